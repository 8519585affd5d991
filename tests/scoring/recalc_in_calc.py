#!/usr/bin/python3
"""Hands a workbook's cells to LibreOffice Calc and prints what Calc works
out: the cells come as JSON (sheets in order, each cell as [row, column,
kind, value] with kind "n" number, "s" text, "f" formula in the spreadsheet
application's English syntax), go into an .xlsx through openpyxl, so Calc
reads the formula texts as that application writes them, and Calc loads and
recalculates it headless, with a profile of its own.

A saved workbook (.xls, .xlsx, .ods) given instead of cells.json is loaded as
it is, to see what Calc makes of a file a server saved.

usage: recalc_in_calc.py work-folder cells.json result.json [cells.json result.json ...]
(one office for them all); each result.json: {sheet name: {"row,column": number | text | "#ERROR"}} for every
non-empty cell of every sheet."""
import json
import os
import subprocess
import sys
import time

import openpyxl
import uno
from com.sun.star.beans import PropertyValue


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


def write_xlsx(cells, path):
    book = openpyxl.Workbook()
    book.remove(book.active)
    for sheet in cells['sheets']:
        ws = book.create_sheet(sheet['name'])
        for row, column, kind, value in sheet['cells']:
            ws.cell(row=row, column=column).value = value
    book.save(path)


def connect(pipe):
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext('com.sun.star.bridge.UnoUrlResolver', local)
    for _ in range(480):
        try:
            return resolver.resolve('uno:pipe,name=%s;urp;StarOffice.ComponentContext' % pipe)
        except Exception:
            time.sleep(0.25)
    raise SystemExit('the office did not answer')


def read_back(doc):
    from com.sun.star.table.CellContentType import EMPTY, VALUE, TEXT, FORMULA
    result = {}
    for index in range(doc.Sheets.Count):
        sheet = doc.Sheets.getByIndex(index)
        cursor = sheet.createCursor()
        cursor.gotoEndOfUsedArea(False)
        last_row, last_col = cursor.RangeAddress.EndRow, cursor.RangeAddress.EndColumn
        values = {}
        for r in range(last_row + 1):
            for c in range(last_col + 1):
                cell = sheet.getCellByPosition(c, r)
                kind = cell.Type
                key = '%d,%d' % (r + 1, c + 1)
                if kind == EMPTY:
                    continue
                if kind == VALUE:
                    values[key] = cell.Value
                elif kind == TEXT:
                    values[key] = cell.String
                elif cell.Error != 0:
                    values[key] = '#ERROR'
                elif cell.FormulaResultType2 == 1:
                    values[key] = cell.Value
                else:
                    values[key] = cell.String
        result[sheet.Name] = values
    return result


def main(work, *pairs):
    jobs = []
    for i in range(0, len(pairs), 2):
        if not pairs[i].endswith('.json'):
            jobs.append((pairs[i], pairs[i + 1]))
            continue
        with open(pairs[i]) as f:
            cells = json.load(f)
        xlsx = os.path.join(work, 'scored%d.xlsx' % i)
        write_xlsx(cells, xlsx)
        jobs.append((xlsx, pairs[i + 1]))
    pipe = 'cfwscoring%d' % os.getpid()
    office = subprocess.Popen(['soffice', '-env:UserInstallation=' + uno.systemPathToFileUrl(os.path.join(work, 'profile')),
                               '--headless', '--norestore', '--accept=pipe,name=%s;urp;' % pipe])
    try:
        ctx = connect(pipe)
        desktop = ctx.ServiceManager.createInstanceWithContext('com.sun.star.frame.Desktop', ctx)
        for xlsx, result_path in jobs:
            doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(xlsx), '_blank', 0, (prop('Hidden', True),))
            doc.calculateAll()
            with open(result_path, 'w') as f:
                json.dump(read_back(doc), f)
            doc.close(True)
        try:
            desktop.terminate()
        except Exception:
            pass
        office.wait(30)
    finally:
        if office.poll() is None:
            office.kill()


if __name__ == '__main__':
    main(*sys.argv[1:])
