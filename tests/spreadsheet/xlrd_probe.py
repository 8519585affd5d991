#!/usr/bin/python3
"""Independent checks of .xls files for the spreadsheet tests, through xlrd
(strict about the compound file) and xlwt (to make foreign workbooks).

  xlrd_probe.py compare BEFORE AFTER ROW      everything equal except row ROW (0-based) of sheet 1
  xlrd_probe.py values FILE                   JSON: every sheet's cells as [row, col, ctype, value]
  xlrd_probe.py protection FILE               JSON: the PROTECT flag of every sheet, read from the records
  xlrd_probe.py foreign OUT                   writes a workbook with formats, merges, formulas, three sheets
  xlrd_probe.py offsets FILE                  every stream position the file holds points where it should
  xlrd_probe.py formulas FILE                 JSON: every formula cell's tokens and its stored result, by "Sheet!A1"
  xlrd_probe.py book OUT JSON                 writes a workbook with xlwt: {"Sheet": {"A1": 2, "B1": "=A1*2", ...}, ...}
  xlrd_probe.py rows FILE                     JSON: sheet 1's default row and each row's height and options
  xlrd_probe.py names FILE                    JSON: every defined name as [name, sheet it belongs to (-1: all), text]
Exit status 0 when the check holds; differences go to stdout.
"""
import json
import struct
import sys

import xlrd
from xlrd import compdoc

# Some real files carry defined names that xlrd cannot evaluate: the names
# still load, only their text is missing.
_names_epilogue = xlrd.book.Book.names_epilogue


def _lenient_names_epilogue(self):
    try:
        _names_epilogue(self)
    except Exception:
        pass


xlrd.book.Book.names_epilogue = _lenient_names_epilogue


def open_book(path):
    # xlrd's warnings go to stderr: stdout carries the JSON answers.
    try:
        return xlrd.open_workbook(path, formatting_info=True, logfile=sys.stderr)
    except NotImplementedError:
        return xlrd.open_workbook(path, logfile=sys.stderr)


def attrs(obj):
    if obj is None:
        return None
    out = {}
    for key, value in sorted(vars(obj).items()):
        if key.startswith('_'):
            continue
        if hasattr(value, '__dict__'):
            value = attrs(value)
        out[key] = value
    return out


def sheet_facts(sheet, skip_row):
    cells = {}
    for r in range(sheet.nrows):
        if r == skip_row:
            continue
        for c in range(sheet.row_len(r)):
            cell = sheet.cell(r, c)
            cells[(r, c)] = (cell.ctype, cell.value, cell.xf_index)
    return {
        'name': sheet.name,
        'visibility': sheet.visibility,
        'cells': cells,
        'merged': sorted(getattr(sheet, 'merged_cells', [])),
        'colinfo': {k: attrs(v) for k, v in getattr(sheet, 'colinfo_map', {}).items()},
        'rowinfo': {k: attrs(v) for k, v in getattr(sheet, 'rowinfo_map', {}).items() if k != skip_row},
        'defcolwidth': getattr(sheet, 'defcolwidth', None),
        'standardwidth': getattr(sheet, 'standardwidth', None),
        'default_row_height': getattr(sheet, 'default_row_height', None),
        'hyperlinks': [attrs(h) for h in getattr(sheet, 'hyperlink_list', [])],
        'notes': {k: attrs(v) for k, v in getattr(sheet, 'cell_note_map', {}).items()},
    }


def book_facts(book):
    return {
        'names': [(n.name, n.scope, n.raw_formula, n.hidden, n.builtin) for n in book.name_obj_list],
        'fonts': [attrs(f) for f in book.font_list],
        'formats': {k: attrs(v) for k, v in book.format_map.items()},
        'xfs': [attrs(x) for x in book.xf_list],
        'styles': getattr(book, 'style_name_map', {}),
        'datemode': book.datemode,
        'colours': getattr(book, 'colour_map', {}),
    }


def streams(path):
    """Every stream of the compound file but the workbook, by path."""
    with open(path, 'rb') as f:
        doc = compdoc.CompDoc(f.read(), logfile=open('/dev/null', 'w'))
    found = {}

    def walk(did, prefix):
        node = doc.dirlist[did]
        for child in node.children:
            entry = doc.dirlist[child]
            name = prefix + entry.name
            if entry.etype == 1:
                walk(child, name + '/')
            elif entry.etype == 2 and name.lower() not in ('workbook', 'book'):
                found[name] = doc.get_named_stream(name)
    walk(0, '')
    return found


def compare(before_path, after_path, row, recalculated=()):
    before, after = open_book(before_path), open_book(after_path)
    problems = []
    if book_facts(before) != book_facts(after):
        bf, af = book_facts(before), book_facts(after)
        for key in bf:
            if bf[key] != af[key]:
                problems.append('workbook %s differ' % key)
    if before.nsheets != after.nsheets:
        problems.append('sheet count %d -> %d' % (before.nsheets, after.nsheets))
    for i in range(min(before.nsheets, after.nsheets)):
        skip = row if i == 0 else -1
        b, a = sheet_facts(before.sheet_by_index(i), skip), sheet_facts(after.sheet_by_index(i), skip)
        for key in b:
            if b[key] != a[key]:
                if key == 'cells':
                    gone = [k for k in b['cells'] if b['cells'][k] != a['cells'].get(k)
                            and (i,) + k not in recalculated]
                    extra = [k for k in a['cells'] if k not in b['cells'] and a['cells'][k][0] != xlrd.XL_CELL_EMPTY]
                    if gone or extra:
                        problems.append('sheet %d cells differ at %s' % (i + 1, (gone + extra)[:5]))
                else:
                    problems.append('sheet %d %s differ' % (i + 1, key))
    try:
        sb = streams(before_path)
        if sb != streams(after_path):
            problems.append('other streams differ')
    except compdoc.CompDocError:
        pass  # the original's container is one xlrd refuses: nothing to compare against
    for p in problems:
        print(p)
    return 0 if not problems else 1


def values(path):
    book = open_book(path)
    out = []
    for sheet in book.sheets():
        cells = []
        for r in range(sheet.nrows):
            for c in range(sheet.row_len(r)):
                cell = sheet.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_ERROR:
                    cells.append([r, c, cell.ctype, xlrd.error_text_from_code.get(cell.value, '?')])
                elif cell.ctype not in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    cells.append([r, c, cell.ctype, cell.value])
        out.append({'name': sheet.name, 'nrows': sheet.nrows, 'ncols': sheet.ncols, 'cells': cells})
    json.dump(out, sys.stdout, ensure_ascii=False)
    return 0


def sheet_records(mem, pos):
    """The records of the worksheet substream starting at pos, as (type, data),
    leaving out those of substreams nested in it (charts)."""
    depth = 0
    while pos + 4 <= len(mem):
        rtype, size = struct.unpack('<HH', mem[pos:pos + 4])
        data = mem[pos + 4:pos + 4 + size]
        pos += 4 + size
        if rtype == 0x0809:
            depth += 1
        elif rtype == 0x000A:
            depth -= 1
            if depth == 0:
                return
        elif depth == 1:
            yield rtype, data


def protection(path):
    book = xlrd.open_workbook(path, on_demand=True, logfile=sys.stderr)
    mem = book.mem
    flags = []
    for pos in book._sh_abs_posn:
        protected = False
        for rtype, data in sheet_records(mem, pos):
            if rtype == 0x0012:
                protected = struct.unpack('<H', data[:2])[0] != 0
        flags.append(protected)
    json.dump(flags, sys.stdout)
    return 0


def rows(path):
    sheet = open_book(path).sheet_by_index(0)
    keys = ('height', 'hidden', 'height_mismatch', 'additional_space_above', 'additional_space_below')
    out = {
        'default': {
            'height': sheet.default_row_height,
            'hidden': sheet.default_row_hidden,
            'height_mismatch': sheet.default_row_height_mismatch,
            'additional_space_above': sheet.default_additional_space_above,
            'additional_space_below': sheet.default_additional_space_below,
        },
        'rows': {str(r): {k: getattr(info, k) for k in keys} for r, info in sheet.rowinfo_map.items()},
    }
    json.dump(out, sys.stdout)
    return 0


def records(mem):
    """{position: (type, data)} of every record in the stream."""
    out = {}
    pos = 0
    while pos + 4 <= len(mem):
        rtype, size = struct.unpack('<HH', mem[pos:pos + 4])
        out[pos] = (rtype, mem[pos + 4:pos + 4 + size])
        pos += 4 + size
    return out


CELL_TYPES = {0x0006, 0x0201, 0x0203, 0x0204, 0x0205, 0x027E, 0x00BD, 0x00BE, 0x00FD, 0x00D6, 0x0406}


def offsets(path):
    """Sheet positions, INDEX -> DBCELL -> ROW and first cells, EXTSST -> SST."""
    with open(path, 'rb') as f:
        doc = compdoc.CompDoc(f.read(), logfile=open('/dev/null', 'w'))
    mem = doc.get_named_stream('Workbook')
    recs = records(mem)
    problems = []
    sst_records = [p for p, (t, _) in recs.items() if t in (0x00FC, 0x003C)]
    for pos, (rtype, data) in recs.items():
        if rtype == 0x0085:
            target = struct.unpack('<I', data[:4])[0]
            if recs.get(target, (None,))[0] != 0x0809:
                problems.append('BOUNDSHEET at %d points at %d, not a BOF' % (pos, target))
        elif rtype == 0x020B:
            count = (len(data) - 16) // 4
            for k in range(count):
                db = struct.unpack('<I', data[16 + 4 * k:20 + 4 * k])[0]
                if recs.get(db, (None,))[0] != 0x00D7:
                    problems.append('INDEX at %d: entry %d points at %d, not a DBCELL' % (pos, k, db))
                    continue
                dbdata = recs[db][1]
                first_row = db - struct.unpack('<I', dbdata[:4])[0]
                if recs.get(first_row, (None,))[0] != 0x0208:
                    problems.append('DBCELL at %d points back at %d, not a ROW' % (db, first_row))
                    continue
                anchor = first_row + 20
                for j in range((len(dbdata) - 4) // 2):
                    anchor += struct.unpack('<H', dbdata[4 + 2 * j:6 + 2 * j])[0]
                    if anchor != db and recs.get(anchor, (None,))[0] not in CELL_TYPES | {0x00D7}:
                        problems.append('DBCELL at %d: row %d starts at %d, not a cell' % (db, j, anchor))
        elif rtype == 0x00FF:
            for k in range((len(data) - 2) // 8):
                ib, cb = struct.unpack('<IH', data[2 + 8 * k:8 + 8 * k])
                owner = [p for p in sst_records if p < ib < p + 4 + len(recs[p][1])]
                if not owner or ib - owner[0] != cb:
                    problems.append('EXTSST bucket %d points at %d outside the shared strings' % (k, ib))
    for p in problems[:10]:
        print(p)
    return 0 if not problems else 1


def foreign(out_path):
    import xlwt
    book = xlwt.Workbook(encoding='utf-8')
    bold = xlwt.easyxf('font: bold on, colour red; align: horiz center; borders: left thin')
    money = xlwt.easyxf(num_format_str='#,##0.00 [$€-407]')
    date = xlwt.easyxf(num_format_str='YYYY-MM-DD')
    first = book.add_sheet('Ergebnisse')
    first.write_merge(0, 0, 0, 3, 'Klassenarbeit – Übersicht', bold)
    first.col(0).width = 6000
    first.col(2).width = 2000
    first.row(1).height_mismatch = True
    first.row(1).height = 600
    for r in range(1, 6):
        first.write(r, 0, 'Schüler %d' % r)
        first.write(r, 1, r * 1.5, money)
        first.write(r, 2, 40000 + r, date)
        first.write(r, 3, xlwt.Formula('B%d*2' % (r + 1)))
    first.write(6, 1, xlwt.Formula('SUM(B2:B6)'))
    second = book.add_sheet('Notes')
    second.write(0, 0, 'left alone')
    second.write(3, 5, True)
    second.write_merge(2, 4, 1, 2, 'merged block')
    third = book.add_sheet('Leer')
    third.col(1).width = 9000
    book.save(out_path)
    return 0


def cell_name(sheet, row, col):
    letters = ''
    col += 1
    while col:
        col, rest = divmod(col - 1, 26)
        letters = chr(65 + rest) + letters
    return '%s!%s%d' % (sheet, letters, row + 1)


def stored_result(cell):
    if cell.ctype == xlrd.XL_CELL_ERROR:
        return {'t': 'e', 'v': xlrd.error_text_from_code.get(cell.value, '?')}
    if cell.ctype == xlrd.XL_CELL_BOOLEAN:
        return {'t': 'b', 'v': bool(cell.value)}
    if cell.ctype == xlrd.XL_CELL_NUMBER:
        return {'t': 'n', 'v': cell.value}
    if cell.ctype == xlrd.XL_CELL_TEXT:
        return {'t': 's', 'v': cell.value}
    return {'t': 'empty'}


def formulas(path):
    """The formula records of every worksheet: their parsed-expression tokens
    in hex (a cell of a shared formula as "shared <tokens of the shared
    formula>"), with the result the file stores, as xlrd reads it."""
    book = xlrd.open_workbook(path, on_demand=True)
    mem = book.mem
    out = {}
    for index, pos in enumerate(book._sh_abs_posn):
        sheet = book.sheet_by_index(index)
        shared = {}  # (first row, first col) of a shared range -> its tokens
        cells = []
        for rtype, data in sheet_records(mem, pos):
            if rtype == 0x0006:
                row, col = struct.unpack('<HH', data[:4])
                cce = struct.unpack('<H', data[20:22])[0]
                cells.append((row, col, data[22:22 + cce]))
            elif rtype == 0x04BC:
                first_row, _, first_col = struct.unpack('<HHB', data[:5])
                cce = struct.unpack('<H', data[8:10])[0]
                shared[(first_row, first_col)] = data[10:10 + cce]
        for row, col, tokens in cells:
            if tokens[:1] == b'\x01' and len(tokens) == 5:
                anchor = struct.unpack('<HH', tokens[1:5])
                text = 'shared ' + shared.get(anchor, b'?').hex()
            else:
                text = tokens.hex()
            result = stored_result(sheet.cell(row, col)) if row < sheet.nrows and col < sheet.row_len(row) else None
            out[cell_name(sheet.name, row, col)] = {'tokens': text, 'result': result}
    json.dump(out, sys.stdout, ensure_ascii=False)
    return 0


def book(out_path, sheets_json):
    """Sheets in the order given; a text starting with "=" is a formula
    (xlwt stores no result with it)."""
    import xlwt
    out = xlwt.Workbook(encoding='utf-8')
    sheets = json.loads(sheets_json)
    added = {name: out.add_sheet(name) for name in sheets}  # formulas may name later sheets
    for name, cells in sheets.items():
        sheet = added[name]
        for ref, value in cells.items():
            row, col = xlrd.xlsx.cell_name_to_rowx_colx(ref)
            if isinstance(value, str) and value.startswith('='):
                value = xlwt.Formula(value[1:])
            sheet.write(row, col, value)
    out.save(out_path)
    return 0


def names(path):
    book = xlrd.open_workbook(path)
    out = [[n.name, n.scope, n.result.text if n.result is not None else None] for n in book.name_obj_list]
    json.dump(out, sys.stdout, ensure_ascii=False)
    return 0


def main(argv):
    command = argv[1]
    if command == 'compare':
        # An optional fifth argument "s,r,c;s,r,c": formula cells (sheet, row,
        # column, from 0) whose stored results may have been brought up to date.
        recalculated = set()
        if len(argv) > 5 and argv[5]:
            recalculated = {tuple(int(x) for x in cell.split(',')) for cell in argv[5].split(';')}
        return compare(argv[2], argv[3], int(argv[4]), recalculated)
    if command == 'values':
        return values(argv[2])
    if command == 'protection':
        return protection(argv[2])
    if command == 'foreign':
        return foreign(argv[2])
    if command == 'book':
        return book(argv[2], argv[3])
    if command == 'offsets':
        return offsets(argv[2])
    if command == 'formulas':
        return formulas(argv[2])
    if command == 'rows':
        return rows(argv[2])
    if command == 'names':
        return names(argv[2])
    print('unknown command', command)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
