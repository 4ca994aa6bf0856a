#!/usr/bin/python3
"""Check that an .xlsx written by Quillmark holds every field of its source CSV.

Usage: xlsx_roundtrip.py SOURCE.csv OUTPUT.xlsx [--delimiter C]
                         [--text-columns 1,3] [--expect-text-fields]
                         [--encoding NAME]

The source is decoded and parsed here, independently of the program:
BOM -> UTF-8/UTF-16, NUL in every other byte -> UTF-16 without BOM, valid
UTF-8 -> UTF-8, anything else -> GB18030.  The delimiter is detected from the
first 20 records unless given.  Every field is then compared with the cell at
the same row and column (rows past 1,048,576 continue on the next sheet):

  empty field        -> no cell value
  number cell        -> field is a plain decimal (<= 15 significant digits,
                        no leading zero) with the same value
  date cell          -> field is YYYY-MM-DD or YYYY/M/D, optionally with
                        " HH:MM[:SS]" or "THH:MM[:SS]", from 1900 on, with the
                        same value, and the cell has a date format
  string cell        -> field exactly (after undoing _xHHHH_ escapes); a field
                        that should have been a number or a date is a mismatch
  "=..." field       -> plain string cell, never a formula
  any other cell     -> mismatch (extra rows / columns)

Exit 0 and print "ok: N rows, M cells" when everything matches, else list the
mismatches and exit 1.
"""

import argparse
import codecs
import csv
import datetime
import decimal
import io
import itertools
import math
import re
import sys
from collections import Counter

import openpyxl
import openpyxl.reader.excel
from openpyxl.cell.text import Text
from openpyxl.utils.escape import unescape
from openpyxl.xml.constants import SHEET_MAIN_NS
from openpyxl.xml.functions import iterparse

SHEET_ROWS = 1048576
DETAIL_LIMIT = 20
DELIMITER_NAMES = {"comma": ",", "semicolon": ";", "tab": "\t", "pipe": "|"}
CANDIDATES = [",", ";", "\t", "|"]

NUMBER_RE = re.compile(r"([+-]?)([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?")
DATE_RE = re.compile(r"([0-9]{4})([-/])([0-9]{1,2})\2([0-9]{1,2})"
                     r"(?:([ T])([0-9]{1,2}):([0-9]{2})(?::([0-9]{2}))?)?")


def _read_string_table(src):
    # openpyxl's own reader deletes every "x005F_" from shared strings, which
    # half-undoes the escaping (_x005F_x0041_ would then unescape to "A").
    # Keep the stored text raw and unescape it once, like inline strings.
    tag = "{%s}si" % SHEET_MAIN_NS
    strings = []
    for _, node in iterparse(src):
        if node.tag == tag:
            strings.append(Text.from_tree(node).content)
            node.clear()
    return strings


openpyxl.reader.excel.read_string_table = _read_string_table


# ---------------------------------------------------------------- source side

def decode(data, forced=None):
    if forced:
        return data.decode(forced, errors="replace")
    if data.startswith(codecs.BOM_UTF8):
        return data.decode("utf-8-sig", errors="replace")
    if data.startswith(codecs.BOM_UTF16_LE) or data.startswith(codecs.BOM_UTF16_BE):
        return data.decode("utf-16", errors="replace")
    # UTF-16 without a BOM: mostly-ASCII text has a NUL in every other byte.
    pairs = min(len(data), 4096) // 2
    if pairs >= 2:
        even_nul = data[0:pairs * 2:2].count(0) / pairs
        odd_nul = data[1:pairs * 2:2].count(0) / pairs
        if odd_nul >= 0.9 and even_nul <= 0.1:
            return data.decode("utf-16-le", errors="replace")
        if even_nul >= 0.9 and odd_nul <= 0.1:
            return data.decode("utf-16-be", errors="replace")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("gb18030", errors="replace")


def csv_rows(text, delimiter):
    return csv.reader(io.StringIO(text, newline=""), delimiter=delimiter,
                      quotechar='"', doublequote=True, strict=False)


def detect_delimiter(text):
    best, best_score = ",", 0
    for cand in CANDIDATES:
        counts = Counter(len(r) for r in itertools.islice(csv_rows(text, cand), 20))
        score = max((n for k, n in counts.items() if k > 1), default=0)
        if score > best_score:  # strict: earlier candidates win ties
            best, best_score = cand, score
    return best


def unterminated_quote(text, delimiter):
    """Offset of a field-opening quote that is still open at end of text."""
    state, start = "field_start", None
    for i, ch in enumerate(text):
        if state == "field_start":
            if ch == '"':
                state, start = "quoted", i
            elif ch not in (delimiter, "\r", "\n"):
                state = "unquoted"
        elif state == "unquoted":
            if ch == delimiter or ch in "\r\n":
                state = "field_start"
        elif state == "quoted":
            if ch == '"':
                state = "quote_in_quoted"
        else:  # quote_in_quoted: "" is an escaped quote, anything else closes
            if ch == '"':
                state = "quoted"
            elif ch == delimiter or ch in "\r\n":
                state = "field_start"
            else:
                state = "unquoted"
    return start if state == "quoted" else None


def parse(text, delimiter):
    """RFC 4180 records.  A quote still open at the end of the text is taken
    as a literal character, so the lines after it stay records of their own
    instead of one huge field."""
    records, pos, continuing = [], 0, False
    while True:
        rest = text[pos:]
        start = unterminated_quote(rest, delimiter) if '"' in rest else None
        found = list(csv_rows(rest if start is None else rest[:start], delimiter))
        if continuing and found:
            # rest starts at the delimiter or line break after a literal field
            records[-1].extend(found.pop(0)[1:])
        records.extend(found)
        if start is None:
            return records
        end = start + 1
        while end < len(rest) and rest[end] not in (delimiter, "\r", "\n"):
            end += 1
        if rest[:start].endswith(delimiter):
            records[-1][-1] = rest[start:end]
        else:
            records.append([rest[start:end]])
        pos += end
        continuing = True


def number_shape(field):
    """(significant digits, zero-padded) when the field, blanks stripped, is
    written like a decimal number, else None."""
    m = NUMBER_RE.fullmatch(field.strip(" \t"))
    if not m:
        return None
    mantissa = m.group(2)
    return (len(mantissa.replace(".", "").lstrip("0")),
            re.match(r"0[0-9]", mantissa) is not None)


def as_number(field):
    """float value when the field must become a number, else None: up to 15
    significant digits, or 16 and 17 for a decimal with a fraction (at most 15
    digits before the point) whose double prints back as the same number."""
    shape = number_shape(field)
    if shape is None or shape[0] > 17 or shape[1]:
        return None
    text = field.strip(" \t")
    value = float(text)
    if not math.isfinite(value):
        return None
    if shape[0] > 15:
        mantissa = NUMBER_RE.fullmatch(text).group(2)
        whole, _, fraction = mantissa.partition(".")
        if not fraction or len(whole.lstrip("0")) > 15:
            return None
        if decimal.Decimal(repr(value)) != decimal.Decimal(text):
            return None
    return value


def must_stay_text(field):
    """True for a field written like a number that must stay text: zero-padded,
    or too long to be kept as a number."""
    shape = number_shape(field)
    return bool(shape) and (shape[1] or (shape[0] > 15 and as_number(field) is None))


def shown_text(field):
    """The text a text cell holds for a field: the text inside ="...", else the
    field itself."""
    if re.fullmatch(r'="(?:[^"]|"")+"', field, re.S):
        return field[2:-1].replace('""', '"')
    return field


def as_date(field):
    """(datetime, strict) when the field is a date, else None.  strict is False
    for a one-digit hour, which the program may store either way."""
    m = DATE_RE.fullmatch(field)
    if not m:
        return None
    y, _, mo, d, _, h, mi, s = m.groups()
    try:
        value = datetime.datetime(int(y), int(mo), int(d), int(h or 0),
                                  int(mi or 0), int(s or 0))
    except ValueError:
        return None
    if value.year < 1900:
        return None
    return value, not (h and len(h) == 1)


# ---------------------------------------------------------------- workbook side


def text_cell_problem(field, text_column):
    """Why a field stored as text should have been a number or a date; None when text is right."""
    if text_column or field.startswith("="):
        return None
    if as_number(field) is not None:
        return "stored as text, expected a number"
    date = as_date(field)
    return "stored as text, expected a date" if date and date[1] else None

def load_cells(path):
    wb = openpyxl.load_workbook(path, read_only=False)
    cells = {}
    for index, ws in enumerate(wb.worksheets):
        for (r, c), cell in ws._cells.items():
            if cell.value is not None:
                cells[(index * SHEET_ROWS + r, c)] = cell
    return cells


def check_field(field, cell, text_column, expect_text):
    """Problem description, or None when the cell holds the field correctly."""
    if field == "":
        return None if cell is None else "expected an empty cell"
    if cell is None:
        return "cell is missing"
    value = cell.value
    if isinstance(value, str):
        if cell.data_type != "s":
            return "stored as %s, expected a plain string" % (
                "a formula" if cell.data_type == "f" else "type " + cell.data_type)
        if unescape(value) != (field if text_column else shown_text(field)):
            return "string differs"
        return text_cell_problem(field, text_column)
    if text_column:
        return "expected text in this column"
    if field.startswith("="):
        return "expected the literal text of a formula"
    if expect_text and must_stay_text(field):
        return "long or zero-padded number must stay text"
    if isinstance(value, bool):
        return "stored as a boolean"
    if isinstance(value, (int, float)):
        number = as_number(field)
        if number is None:
            return "stored as a number, but the field is not a plain number"
        return None if number == value else "number differs"
    if isinstance(value, (datetime.datetime, datetime.date)):
        date = as_date(field)
        if date is None:
            return "stored as a date, but the field is not a date"
        if "yy" not in (cell.number_format or "").lower():
            return "date cell without a date format (%r)" % cell.number_format
        got = value.timetuple()[:6]
        return None if got == date[0].timetuple()[:6] else "date differs"
    return "unexpected cell type %s" % type(value).__name__


def shorten(value, limit=120):
    text = repr(value)
    return text if len(text) <= limit else "%s... (%d chars)" % (text[:limit], len(value))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("source")
    ap.add_argument("output")
    ap.add_argument("--delimiter", help="tab, comma, semicolon, pipe or one character")
    ap.add_argument("--text-columns", default="",
                    help="1-based columns whose non-empty fields must be text")
    ap.add_argument("--expect-text-fields", action="store_true",
                    help="long (>15 digit) and zero-padded numbers must be text")
    ap.add_argument("--encoding", help="decode the source with this codec")
    args = ap.parse_args()

    delimiter = args.delimiter
    if delimiter is not None:
        delimiter = DELIMITER_NAMES.get(delimiter.lower(), delimiter)
        if delimiter == "\\t":
            delimiter = "\t"
        if len(delimiter) != 1 or delimiter in '"\r\n':
            ap.error("bad --delimiter %r" % args.delimiter)
    try:
        text_columns = {int(c) for c in args.text_columns.split(",") if c.strip()}
    except ValueError:
        ap.error("bad --text-columns %r" % args.text_columns)

    csv.field_size_limit(sys.maxsize)
    with open(args.source, "rb") as f:
        text = decode(f.read(), args.encoding)
    delimiter = delimiter or detect_delimiter(text)
    records = parse(text, delimiter)
    try:
        cells = load_cells(args.output)
    except Exception as exc:  # a workbook we cannot open fails the check
        print("FAILED: cannot read %s: %s: %s" % (args.output, type(exc).__name__, exc))
        return 1

    problems, compared = [], 0
    for r, record in enumerate(records, 1):
        for c, field in enumerate(record, 1):
            cell = cells.pop((r, c), None)
            compared += field != ""
            problem = check_field(field, cell, c in text_columns, args.expect_text_fields)
            if problem:
                problems.append((r, c, problem, field, None if cell is None else cell.value))
    for (r, c), cell in sorted(cells.items()):
        problems.append((r, c, "extra cell beyond the source", None, cell.value))

    if not problems:
        print("ok: %d rows, %d cells" % (len(records), compared))
        return 0
    for r, c, problem, field, value in problems[:DETAIL_LIMIT]:
        shown = shorten(value)
        if isinstance(value, str) and unescape(value) != value:
            shown += "  (reads as %s)" % shorten(unescape(value))
        print("row %d col %d: %s\n    field: %s\n    cell:  %s"
              % (r, c, problem, shorten(field), shown))
    if len(problems) > DETAIL_LIMIT:
        print("... and %d more mismatches" % (len(problems) - DETAIL_LIMIT))
    print("FAILED: %d mismatches (delimiter %r, %d rows)"
          % (len(problems), delimiter, len(records)))
    return 1


if __name__ == "__main__":
    sys.exit(main())
