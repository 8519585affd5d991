#!/usr/bin/python3
"""Makes the scoring workbook of the formula benchmark with xlwt:

  Import   a heading in A1, 65,000 scanned rows below it (a sheet number in
           column A, answers 1-5 or the one-space filler in B:BN), and in
           BP a score per row for rows 2 to 65500: ten comparisons with the
           key, =(B2=Key!B$1)+(C2=Key!C$1)+...+(K2=Key!K$1)
  Key      the answer key in B1:K1
  Summary  five aggregates over whole columns of Import

  make_scoring_workbook.py OUT.xls
"""
import sys

import xlwt

ROWS = 65000          # scanned rows, after the heading
FORMULA_ROWS = 65500  # rows with a score formula
COLUMNS = 66
KEY = [3, 1, 4, 1, 5, 2, 2, 3, 5, 4]


def column(index):
    name = ''
    index += 1
    while index:
        index, rest = divmod(index - 1, 26)
        name = chr(65 + rest) + name
    return name


def main(path):
    book = xlwt.Workbook(encoding='utf-8')
    scans = book.add_sheet('Import')
    key = book.add_sheet('Key')
    summary = book.add_sheet('Summary')
    scans.write(0, 0, 'Sheet')
    for c, answer in enumerate(KEY):
        key.write(0, c + 1, answer)
    score = '+'.join('(%s{r}=Key!%s$1)' % (column(c), column(c)) for c in range(1, 11))
    for r in range(1, ROWS + 1):
        scans.write(r, 0, r)
        for c in range(1, COLUMNS):
            mark = (r * 7 + c * 13) % 6
            scans.write(r, c, ' ' if mark == 0 else mark)
        scans.write(r, 67, xlwt.Formula(score.format(r=r + 1)))
        if r % 5000 == 0:
            scans.flush_row_data()
    for r in range(ROWS + 1, FORMULA_ROWS):
        scans.write(r, 67, xlwt.Formula(score.format(r=r + 1)))
    for r, text in enumerate(['COUNTA(Import!A1:A65536)', 'SUM(Import!BP1:BP65536)', 'AVERAGE(Import!BP1:BP65536)',
                              'MAX(Import!BP1:BP65536)', 'COUNTIF(Import!BP1:BP65536,">=5")']):
        summary.write(r, 1, xlwt.Formula(text))
    book.save(path)


if __name__ == '__main__':
    main(sys.argv[1])
