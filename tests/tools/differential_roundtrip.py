#!/usr/bin/python3
"""Differential round trip: random CSV files in every encoding and delimiter the
program reads, converted by quillmark-convert, read back with openpyxl and
compared cell by cell with Python's csv module's parse of the same text.

Usage: differential_roundtrip.py --program PATH [--files N] [--seed S] [--keep DIR]

The generator knows each file's encoding and delimiter, so the expected cells
come from the truth, not from a second detector. Files use quotes, delimiters
and line breaks inside fields, ragged rows, Chinese text and emoji, numbers
(exponents, padded, long IDs, leading zeros), dates and empty fields; some
start with a "sep=X" line. The automatic conversion reads every file; the
conversion by settings reads the comma, semicolon and tab files again with
their delimiter given.

Cells are compared as openpyxl gives them, without undoing any escape: what a
reader sees is what must match. Prints the number of files and cells compared;
exits 1 on any difference.
"""

import argparse
import codecs
import csv
import io
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import openpyxl  # noqa: E402
from xlsx_roundtrip import as_date, as_number, shown_text  # noqa: E402

ENCODINGS = ["utf-8", "utf-8-sig", "gb18030", "utf-16-le", "utf-16-be", "utf-16-le-bom", "utf-16-be-bom",
             "utf-32-le", "utf-32-be-bom", "big5", "shift_jis", "euc_kr", "cp1252"]
# Text of the region each legacy encoding serves; the Unicode encodings and GB18030 take any text.
REGION_WORDS = {
    "big5": ["臺北市", "資訊科技", "電話號碼", "陳大文", "有限公司", "客戶", "地址", "銷售金額", "備註", "香港"],
    "shift_jis": ["山田太郎", "東京都", "さとう", "カタカナ", "株式会社", "お問い合わせ", "住所", "電話番号", "大阪"],
    "euc_kr": ["김철수", "서울특별시", "이영희", "주식회사", "전화번호", "주소", "부산광역시", "고객", "금액"],
    "cp1252": ["José Müller", "Zürich", "François", "Besançon", "señor", "Ålesund", "Øresund", "crème brûlée"],
}
DELIMITERS = {"comma": ",", "semicolon": ";", "tab": "\t", "pipe": "|"}
CHINESE = "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白教速花带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿千周委素技备半办青省列习响约支般史感劳便团往酸历市克何除消构府称太准精值号率族维划选标写存候毛亲快效斯院查江型眼王按格养易置派层片始却专状育厂京识适属圆包火住调满县局照参红细引听该铁价严"
EMOJI = "😀🎉👍🚀😂❤️✅🍜"
WORDS = ["alpha", "Beta", "gamma ray", "delta-9", "Zoë", "Köln", "naïve café", "O'Brien", "x", "", "  padded  "]


def random_text(rng, encoding=None):
    if encoding in REGION_WORDS:
        words = REGION_WORDS[encoding]
        if rng.random() < 0.3:
            return rng.choice(WORDS[:4]) + " " + rng.choice(words)
        return rng.choice(words) + ("" if rng.random() < 0.6 else " " + rng.choice(words))
    kind = rng.random()
    if kind < 0.35:
        return rng.choice(WORDS) + (" " + rng.choice(WORDS) if rng.random() < 0.3 else "")
    if kind < 0.75:
        return "".join(rng.choice(CHINESE) for _ in range(rng.randint(1, 8)))
    if kind < 0.85:
        return rng.choice(CHINESE) + "".join(rng.choice(EMOJI) for _ in range(rng.randint(1, 3)))
    return "=SUM(A1:B2)" if rng.random() < 0.5 else "a \"quoted\" word"


def random_number(rng):
    return rng.choice([
        str(rng.randint(-10000, 100000)),
        "%.2f" % rng.uniform(-1000, 1000),
        "1.5E3", "-2.25e-4", " 5 ", "\t42", "007", "00123",
        "".join(rng.choice("0123456789") for _ in range(18)).lstrip("0") or "1",
        "123456789012345", "1234567890123456", "0.5", ".5", "-0",
        "0.26987858884967864", "202112345678", '="00123"', '="a""b"',
    ])


def random_date(rng):
    y, m, d = rng.randint(1950, 2030), rng.randint(1, 12), rng.randint(1, 28)
    return rng.choice(["%04d-%02d-%02d" % (y, m, d), "%04d/%d/%d" % (y, m, d),
                       "%04d-%02d-%02d %02d:%02d:%02d" % (y, m, d, rng.randint(10, 23), rng.randint(0, 59),
                                                        rng.randint(0, 59))])


def random_field(rng, delimiter, encoding):
    kind = rng.random()
    if kind < 0.12:
        return ""
    if kind < 0.35:
        return random_number(rng)
    if kind < 0.45:
        return random_date(rng)
    text = random_text(rng, encoding)
    extra = rng.random()
    if extra < 0.06:  # a line break inside the field
        text += rng.choice(["\n", "\r\n", "\r"]) + random_text(rng, encoding)
    elif extra < 0.10:  # the file's own delimiter inside
        text += delimiter + random_text(rng, encoding)
    elif extra < 0.13:  # another delimiter inside, now and then
        text += rng.choice([c for c in ",;\t|" if c != delimiter]) + " " + random_text(rng, encoding)
    return text


def write_field(field, delimiter):
    if any(c in field for c in (delimiter, '"', "\r", "\n")):
        return '"' + field.replace('"', '""') + '"'
    return field


def make_file(rng, delimiter, with_sep_line, encoding):
    """The file's text and the length of its "sep=X" line (0 without one)."""
    columns = rng.randint(2, 7)
    rows = []
    for r in range(rng.randint(6, 30)):
        width = columns
        if r > 0 and rng.random() < 0.1:  # a ragged row
            width = max(1, columns + rng.choice([-1, 1]))
        rows.append([random_field(rng, delimiter, encoding) for _ in range(width)])
    # Every row has a field in its last column, so none is one empty field.
    for row in rows:
        if all(f == "" for f in row):
            row[0] = "x"
    line_end = rng.choice(["\r\n", "\n"])
    text = "".join(delimiter.join(write_field(f, delimiter) for f in row) + line_end for row in rows)
    sep_line = "sep=" + delimiter + line_end if with_sep_line else ""
    return sep_line + text, len(sep_line)


def encode(text, encoding):
    if encoding == "utf-16-le-bom":
        return codecs.BOM_UTF16_LE + text.encode("utf-16-le")
    if encoding == "utf-16-be-bom":
        return codecs.BOM_UTF16_BE + text.encode("utf-16-be")
    if encoding == "utf-32-be-bom":
        return codecs.BOM_UTF32_BE + text.encode("utf-32-be")
    return text.encode(encoding)


def expected_records(data, encoding, delimiter, sep_line):
    """The truth: the generator's own bytes decoded with the known encoding and parsed by csv."""
    codec = {"utf-16-le-bom": "utf-16", "utf-16-be-bom": "utf-16", "utf-32-be-bom": "utf-32"}.get(encoding, encoding)
    text = data.decode(codec)[sep_line:]
    return list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter, quotechar='"', strict=False))


def cell_problem(field, cell):
    """None when the cell shows the field as the value rules say, else what is wrong."""
    value = None if cell is None else cell.value
    if field == "":
        return None if value is None else "expected an empty cell"
    if value is None:
        return "cell is missing"
    number = None if field.startswith("=") else as_number(field)
    date = None if field.startswith("=") or number is not None else as_date(field)
    if number is not None:
        return None if isinstance(value, (int, float)) and not isinstance(value, bool) and value == number \
            else "expected the number %r" % number
    if date is not None and date[1]:
        return None if hasattr(value, "timetuple") and value.timetuple()[:6] == date[0].timetuple()[:6] \
            else "expected the date %s" % date[0]
    if cell.data_type != "s" or not isinstance(value, str):
        return "expected text, got %s %r" % (cell.data_type, value)
    return None if value == shown_text(field) else "text differs"


def compare(records, workbook_path):
    sheet = openpyxl.load_workbook(workbook_path).worksheets[0]
    cells = {key: cell for key, cell in sheet._cells.items() if cell.value is not None}
    problems, compared = [], 0
    for r, record in enumerate(records, 1):
        for c, field in enumerate(record, 1):
            cell = cells.pop((r, c), None)
            compared += 1
            problem = cell_problem(field, cell)
            if problem:
                problems.append("row %d col %d: %s: field %r, cell %r" % (
                    r, c, problem, field, None if cell is None else cell.value))
    problems += ["row %d col %d: extra cell %r" % (r, c, cell.value) for (r, c), cell in sorted(cells.items())]
    return compared, problems


def convert(program, source, output, extra=()):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    done = subprocess.run([program, source, "--out", output, *extra], env=env, capture_output=True, timeout=600)
    if done.returncode != 0:
        sys.stdout.write(done.stderr.decode("utf-8", "replace"))
    return done.returncode


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--program", required=True)
    ap.add_argument("--files", type=int, default=364)
    ap.add_argument("--seed", type=int, default=20261208)
    ap.add_argument("--keep", help="generate into this folder and keep it")
    args = ap.parse_args()
    rng = random.Random(args.seed)

    if args.keep:
        return run(args, rng, args.keep)
    with tempfile.TemporaryDirectory(prefix="quillmark-differential-") as work:
        return run(args, rng, work)


def run(args, rng, work):
    source = os.path.join(work, "source")
    plan = []  # (relative path without extension, encoding, delimiter, sep line)
    for i in range(args.files):
        encoding = ENCODINGS[i % len(ENCODINGS)]
        name, delimiter = list(DELIMITERS.items())[(i // len(ENCODINGS)) % len(DELIMITERS)]
        sep_line = rng.random() < 0.08
        folder = "sep" if sep_line else name
        relative = os.path.join(folder, encoding, "f%03d" % i)
        text, sep_line = make_file(rng, delimiter, sep_line, encoding)
        data = encode(text, encoding)
        os.makedirs(os.path.dirname(os.path.join(source, relative)), exist_ok=True)
        with open(os.path.join(source, relative + ".csv"), "wb") as f:
            f.write(data)
        plan.append((relative, encoding, delimiter, name, sep_line, data))

    failures, files, cells = [], 0, 0
    runs = [("automatic", source, os.path.join(work, "automatic"), (), lambda p: True)]
    for name in ("comma", "semicolon", "tab"):
        runs.append(("by settings, %s" % name, os.path.join(source, name), os.path.join(work, "by-settings", name),
                     ("--by-settings", "--delimiter", name), lambda p, name=name: p[3] == name and not p[4]))
    for label, run_source, run_output, extra, takes in runs:
        status = convert(args.program, run_source, run_output, extra)
        if status != 0:
            failures.append("%s: quillmark-convert exited with %d" % (label, status))
        for relative, encoding, delimiter, name, sep_line, data in filter(takes, plan):
            inside = relative if run_source == source else os.path.relpath(relative, name)
            workbook = os.path.join(run_output, inside + ".xlsx")
            records = expected_records(data, encoding, delimiter, sep_line)
            try:
                compared, problems = compare(records, workbook)
            except Exception as exc:  # a missing or unreadable workbook is a difference too
                compared, problems = 0, ["cannot read %s: %s" % (workbook, exc)]
            files += 1
            cells += compared
            if problems:
                failures.append("%s: %s.csv (%s, %r):\n    %s" % (label, relative, encoding, delimiter,
                                                                  "\n    ".join(problems[:5])))

    print("compared %d files, %d cells" % (files, cells))
    if failures:
        print("%d files differ:" % len(failures))
        print("\n".join(failures[:30]))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
