#!/usr/bin/python3
"""Check that an .xls written by Quillmark holds every field of its source CSV.

Usage: xls_roundtrip.py SOURCE.csv OUTPUT.xls [--text-columns 1,3]
                        [--expect-text-fields] [--delimiter C] [--encoding NAME]
       xls_roundtrip.py SOURCE.csv --shown EXPORT.csv

The source is decoded and split by the rules of xlsx_roundtrip.py (beside this
file), independently of the program. The workbook is read with xlrd. Each field
is compared with the cell at the same row and column (rows past 65,536 continue
on the next sheet):

  empty field   -> no cell
  number cell   -> a plain decimal field (<= 15 significant digits, no
                   leading zero) of the same value
  date cell     -> a date field, its serial day number in the 1900 date
                   system, with a date format
  text cell     -> the field exactly; "@" format exactly in the text columns

With --shown, EXPORT.csv is the first sheet as another program shows it
(numbers in any notation, dates as yyyy-mm-dd[ hh:mm[:ss]]).

The records that only some readers use are checked too: no record is longer
than 8,224 bytes, each sheet entry points at its BOF record, the EXTSST index
at the strings, and each sheet's INDEX at its DBCELL records, which point at
their ROW records and at the first cell of each row.

Exit 0 and print "ok: N rows, M cells, sheets: NAME|NAME..." when everything
matches, else list the mismatches and exit 1.
"""

import argparse
import csv
import datetime
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xlsx_roundtrip import (DELIMITER_NAMES, as_date, as_number, decode,  # noqa: E402
                            detect_delimiter, must_stay_text, parse, shorten, shown_text,
                            text_cell_problem)

import xlrd  # noqa: E402
from xlrd.compdoc import CompDoc  # noqa: E402

SHEET_ROWS = 65536
DETAIL_LIMIT = 20


def serial(value):
    """Day number of a date-time in the 1900 date system, as spreadsheets count it."""
    delta = value - datetime.datetime(1899, 12, 30)
    days = delta.days - 1 if delta.days < 61 else delta.days
    return days + delta.seconds / 86400.0


def check_records(path, book):
    """Problems of the positions and sizes in the Workbook stream."""
    with open(path, "rb") as f:
        stream = CompDoc(f.read()).get_named_stream("Workbook")
    at, pos = {}, 0
    while pos + 4 <= len(stream):
        kind, size = struct.unpack_from("<HH", stream, pos)
        at[pos] = (kind, size)
        pos += 4 + size
    problems = ["record at %d holds %d bytes" % (p, s) for p, (k, s) in at.items() if s > 8224]

    def expect(position, kinds, what):
        if at.get(position, (None,))[0] not in kinds:
            problems.append("%s: no record of type %s at %d" % (what, kinds, position))
            return False
        return True

    for p, (kind, size) in sorted(at.items()):
        data = stream[p + 4:p + 4 + size]
        if kind == 0x0085:  # BOUNDSHEET
            expect(struct.unpack_from("<I", data)[0], (0x0809,), "sheet entry")
        elif kind == 0x00FF:  # EXTSST
            per_bucket = struct.unpack_from("<H", data)[0]
            for k in range((size - 2) // 8):
                ib, offset = struct.unpack_from("<IH", data, 2 + 8 * k)
                if expect(ib - offset, (0x00FC, 0x003C), "EXTSST bucket %d" % k):
                    units = struct.unpack_from("<H", stream, ib)[0]
                    if units != len(book._sharedstrings[k * per_bucket].encode("utf-16-le")) // 2:
                        problems.append("EXTSST bucket %d: not the start of its string" % k)
        elif kind == 0x020B:  # INDEX
            first, end, def_col_width = struct.unpack_from("<4xIII", data)
            dbcells = struct.unpack_from("<%dI" % ((size - 16) // 4), data, 16)
            expect(def_col_width, (0x0055,), "INDEX")
            if len(dbcells) != (end - first + 31) // 32:
                problems.append("INDEX at %d: %d row blocks for rows %d-%d" % (p, len(dbcells), first, end))
            for dbcell in dbcells:
                if expect(dbcell, (0x00D7,), "INDEX at %d" % p):
                    check_block(stream, at, dbcell, problems)
    return problems


def check_block(stream, at, dbcell, problems):
    size = at[dbcell][1]
    back = struct.unpack_from("<I", stream, dbcell + 4)[0]
    offsets = struct.unpack_from("<%dH" % ((size - 4) // 2), stream, dbcell + 8)
    if back == 0:
        return
    rows = dbcell - back
    cell = rows + 20
    for i, offset in enumerate(offsets):
        cell += offset
        row_record = rows + 20 * i
        if at.get(row_record, (None,))[0] != 0x0208 or cell not in at or \
                stream[cell + 4:cell + 6] != stream[row_record + 4:row_record + 6]:
            problems.append("DBCELL at %d: row %d does not start where it says" % (dbcell, i))
            return


def load_cells(path):
    book = xlrd.open_workbook(path, formatting_info=True, on_demand=True)  # keeps the shared strings
    cells = {}
    for index, sheet in enumerate(book.sheets()):
        for r in range(sheet.nrows):
            for c in range(sheet.row_len(r)):
                cell = sheet.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                xf = book.xf_list[sheet.cell_xf_index(r, c)]
                cells[(index * SHEET_ROWS + r + 1, c + 1)] = (cell, book.format_map[xf.format_key].format_str)
    return cells, [sheet.name for sheet in book.sheets()], check_records(path, book)


def check_cell(field, found, text_column, expect_text):
    if field == "":
        return None if found is None else "expected an empty cell"
    if found is None:
        return "cell is missing"
    cell, number_format = found
    if text_column != (number_format == "@"):
        return "format %r in a %s column" % (number_format, "text" if text_column else "general")
    if cell.ctype == xlrd.XL_CELL_TEXT:
        if cell.value != (field if text_column else shown_text(field)):
            return "string differs"
        return text_cell_problem(field, text_column)
    if text_column:
        return "expected text in this column"
    if expect_text and must_stay_text(field):
        return "long or zero-padded number must stay text"
    if cell.ctype == xlrd.XL_CELL_NUMBER:
        number = as_number(field)
        if number is None:
            return "stored as a number, but the field is not a plain number"
        return None if number == cell.value else "number differs"
    if cell.ctype == xlrd.XL_CELL_DATE:
        date = as_date(field)
        if date is None:
            return "stored as a date, but the field is not a date"
        return None if abs(serial(date[0]) - cell.value) < 1e-9 else "date differs"
    return "unexpected cell type %d" % cell.ctype


def check_shown(field, shown):
    """Problem, or None when another program shows the field's value."""
    if field == "" or shown == field:
        return None if shown == field else "expected an empty cell"
    number = as_number(field)
    if number is not None:
        try:
            return None if abs(float(shown) - number) <= 1e-14 * abs(number) else "number differs"
        except ValueError:
            return "expected a number"
    date = as_date(field)
    if date is not None:
        wanted = date[0]
        for fmt in ("%Y-%m-%d %H:%M:%S", "%Y-%m-%d %H:%M", "%Y-%m-%d"):
            if shown == wanted.strftime(fmt):
                return None
        return "date differs"
    return "string differs"


def report(problems, rows, compared, sheets=None):
    if not problems:
        named = ", sheets: " + "|".join(sheets) if sheets else ""
        print("ok: %d rows, %d cells%s" % (rows, compared, named))
        return 0
    for r, c, problem, field, value in problems[:DETAIL_LIMIT]:
        print("row %d col %d: %s\n    field: %s\n    cell:  %s" % (r, c, problem, shorten(field), shorten(value)))
    if len(problems) > DETAIL_LIMIT:
        print("... and %d more mismatches" % (len(problems) - DETAIL_LIMIT))
    print("FAILED: %d mismatches" % len(problems))
    return 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("source")
    ap.add_argument("output", nargs="?")
    ap.add_argument("--shown", help="CSV export of the workbook by another program")
    ap.add_argument("--delimiter", help="tab, comma, semicolon, pipe or one character")
    ap.add_argument("--text-columns", default="", help="1-based columns that hold text (\"@\")")
    ap.add_argument("--expect-text-fields", action="store_true",
                    help="long (>15 digit) and zero-padded numbers must be text")
    ap.add_argument("--encoding", help="decode the source with this codec")
    args = ap.parse_args()
    if (args.output is None) == (args.shown is None):
        ap.error("give either OUTPUT.xls or --shown EXPORT.csv")
    text_columns = {int(c) for c in args.text_columns.split(",") if c.strip()}

    csv.field_size_limit(sys.maxsize)
    with open(args.source, "rb") as f:
        text = decode(f.read(), args.encoding)
    delimiter = DELIMITER_NAMES.get((args.delimiter or "").lower(), args.delimiter) or detect_delimiter(text)
    records = parse(text, delimiter)
    compared = sum(field != "" for record in records for field in record)

    problems = []
    if args.shown:
        with open(args.shown, encoding="utf-8", newline="") as f:
            shown = list(csv.reader(f))
        for r, record in enumerate(records, 1):
            row = shown[r - 1] if r <= len(shown) else []
            for c, field in enumerate(record, 1):
                value = row[c - 1] if c <= len(row) else ""
                problem = check_shown(field, value)
                if problem:
                    problems.append((r, c, problem, field, value))
        return report(problems, len(records), compared)

    try:
        cells, sheets, structure = load_cells(args.output)
    except Exception as exc:  # a workbook we cannot open fails the check
        print("FAILED: cannot read %s: %s: %s" % (args.output, type(exc).__name__, exc))
        return 1
    for r, record in enumerate(records, 1):
        for c, field in enumerate(record, 1):
            found = cells.pop((r, c), None)
            problem = check_cell(field, found, c in text_columns, args.expect_text_fields)
            if problem:
                problems.append((r, c, problem, field, None if found is None else found[0].value))
    for (r, c), (cell, _) in sorted(cells.items()):
        problems.append((r, c, "extra cell beyond the source", None, cell.value))
    problems += [(0, 0, problem, None, None) for problem in structure]
    return report(problems, len(records), compared, sheets)


if __name__ == "__main__":
    sys.exit(main())
