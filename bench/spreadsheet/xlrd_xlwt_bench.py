#!/usr/bin/python3
"""The same job as the built-in server's benchmark, done with xlrd + xlwt:
read the workbook, find the first empty row of column A, write the whole
content plus one row, save. Prints one JSON line: seconds and peak memory."""
import json
import sys
import time

import xlrd
import xlwt

source, target = sys.argv[1], sys.argv[2]
start = time.monotonic()
book = xlrd.open_workbook(source)
sheet = book.sheet_by_index(0)
row = 0
while row < sheet.nrows and sheet.cell_value(row, 0) != '':
    row += 1
out = xlwt.Workbook(encoding='utf-8')
copy = out.add_sheet(sheet.name)
for r in range(sheet.nrows):
    for c, value in enumerate(sheet.row_values(r)):
        if value != '':
            copy.write(r, c, value)
for c in range(66):
    copy.write(row, c, 'x' if c else str(row + 1))
out.save(target)
seconds = time.monotonic() - start


def peak_kib():
    # VmHWM is this program's own peak; ru_maxrss would include the parent's.
    with open('/proc/self/status') as status:
        for line in status:
            if line.startswith('VmHWM:'):
                return int(line.split()[1])
    return -1


print(json.dumps({'seconds': seconds, 'peak_kib': peak_kib(), 'row': row + 1}))
