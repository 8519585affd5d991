#!/usr/bin/python3
"""What other spreadsheet programs read from .xls files the server saved:
LibreOffice Calc (a private headless office that loads each file, calculates
everything anew and stores it as .xlsx) and Gnumeric (ssconvert to .xlsx,
with and without its own recalculation). openpyxl then reads each .xlsx: the
sheets in order, the defined names, every formula's text and its result.

  office_probe.py calc OUTDIR FILE...
  office_probe.py gnumeric OUTDIR FILE...

Prints JSON: {FILE: {"sheets": [...], "names": {...}, "cells": {"Sheet!A1":
{"formula": "=...", "value": {"t": ..., "v": ...}}}}} (for gnumeric also
"stored", the results as the file held them). When the program is missing,
prints one line saying what to install and exits with status 3."""
import json
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'fixtures', 'formulas'))

ERRORS = ('#NULL!', '#DIV/0!', '#VALUE!', '#REF!', '#NAME?', '#NUM!', '#N/A')


def missing(what):
    print('missing: %s' % what)
    sys.exit(3)


def typed(value):
    if value is None:
        return {'t': 'empty'}
    if isinstance(value, bool):
        return {'t': 'b', 'v': value}
    if isinstance(value, (int, float)):
        return {'t': 'n', 'v': float(value)}
    if isinstance(value, str) and value in ERRORS:
        return {'t': 'e', 'v': value}
    return {'t': 's', 'v': str(value)}


def read_xlsx(path, stored=None):
    import warnings
    import openpyxl
    warnings.simplefilter('ignore')
    formulas = openpyxl.load_workbook(path)
    values = openpyxl.load_workbook(path, data_only=True)
    out = {'sheets': formulas.sheetnames, 'names': {}, 'cells': {}}
    for name in formulas.defined_names.definedName:
        out['names'][name.name] = name.attr_text
    for sheet in formulas.worksheets:
        shown = values[sheet.title]
        for row in sheet.iter_rows():
            for cell in row:
                if isinstance(cell.value, str) and cell.value.startswith('='):
                    key = '%s!%s' % (sheet.title, cell.coordinate)
                    out['cells'][key] = {'formula': cell.value, 'value': typed(shown[cell.coordinate].value)}
                    if stored is not None:
                        out['cells'][key]['stored'] = stored['cells'].get(key, {}).get('value')
    return out


def with_calc(outdir, files):
    try:
        import uno  # noqa: F401
    except ImportError:
        missing('python3-uno (sudo apt-get install python3-uno libreoffice-calc)')
    if not shutil.which('soffice'):
        missing('LibreOffice Calc (sudo apt-get install libreoffice-calc)')
    import uno
    from oracle_office import Office, prop
    results = {}
    with Office() as office:
        for path in files:
            doc = office.load(path)
            try:
                doc.calculateAll()
                target = os.path.join(outdir, os.path.basename(path) + '.calc.xlsx')
                doc.storeToURL(uno.systemPathToFileUrl(os.path.abspath(target)),
                               (prop('FilterName', 'Calc MS Excel 2007 XML'),))
            finally:
                doc.close(True)
            results[path] = read_xlsx(target)
    return results


def with_gnumeric(outdir, files):
    if not shutil.which('ssconvert'):
        missing('Gnumeric (sudo apt-get install gnumeric)')
    results = {}
    for path in files:
        kept = os.path.join(outdir, os.path.basename(path) + '.gnumeric-kept.xlsx')
        again = os.path.join(outdir, os.path.basename(path) + '.gnumeric.xlsx')
        for args, target in ((['ssconvert'], kept), (['ssconvert', '--recalc'], again)):
            run = subprocess.run(args + [path, target], capture_output=True, text=True, timeout=120)
            if run.returncode != 0:
                print('ssconvert failed on %s: %s' % (path, run.stderr.strip()), file=sys.stderr)
                sys.exit(1)
        results[path] = read_xlsx(again, stored=read_xlsx(kept))
    return results


def main(argv):
    reader, outdir, files = argv[1], argv[2], argv[3:]
    os.makedirs(outdir, exist_ok=True)
    results = with_calc(outdir, files) if reader == 'calc' else with_gnumeric(outdir, files)
    json.dump(results, sys.stdout, ensure_ascii=False)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
