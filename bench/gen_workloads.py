#!/usr/bin/python3
"""Deterministic CSV files for the text-heavy and the wide workload of bench/run.sh (stdlib only).

usage: gen_workloads.py OUTDIR

  OUTDIR/text/text.csv  header + 200,000 rows x 5 fields of 200 Chinese characters (about 600 MB),
                        drawn from the first 3,500 characters of the CJK block, so the text
                        compresses about as well as running Chinese prose does
  OUTDIR/wide/wide.csv  header + 50,000 rows x 300 short numbers (about 65 MB): whole numbers of
                        one to four digits, some negative, and one in ten with one decimal

Same seed, same bytes. UTF-8 without a byte-order mark, CRLF line ends, nothing to quote.
"""
import os
import random
import sys

TEXT_ROWS, TEXT_FIELDS, TEXT_CHARS = 200_000, 5, 200
WIDE_ROWS, WIDE_COLUMNS = 50_000, 300


def write_text(path):
    r = random.Random(13)
    alphabet = [chr(0x4E00 + i) for i in range(3500)]
    with open(path, "w", encoding="utf-8", newline="") as out:
        out.write(",".join("文本%d" % (i + 1) for i in range(TEXT_FIELDS)) + "\r\n")
        for _ in range(TEXT_ROWS):
            line = "".join(r.choices(alphabet, k=TEXT_FIELDS * TEXT_CHARS))
            out.write(",".join(line[i:i + TEXT_CHARS] for i in range(0, len(line), TEXT_CHARS)) + "\r\n")


def write_wide(path):
    r = random.Random(300)
    with open(path, "w", encoding="utf-8", newline="") as out:
        out.write(",".join("c%d" % (i + 1) for i in range(WIDE_COLUMNS)) + "\r\n")
        for _ in range(WIDE_ROWS):
            fields = []
            for _ in range(WIDE_COLUMNS):
                p = r.random()
                if p < 0.1:
                    fields.append("%.1f" % r.uniform(-100, 1000))
                else:
                    fields.append(str(r.randint(-99, 9999)))
            out.write(",".join(fields) + "\r\n")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    for name, writer in (("text", write_text), ("wide", write_wide)):
        os.makedirs(os.path.join(root, name), exist_ok=True)
        writer(os.path.join(root, name, name + ".csv"))


if __name__ == "__main__":
    main()
