#!/usr/bin/python3
"""Write the CSV fixtures in tests/data/csv/ (byte for byte, deterministic).

Run from anywhere: python3 tests/data/make_fixtures.py
Each file is small and named for the input problem it exercises; csv/README.md
says what a correct conversion of each one gives.
"""

import hashlib
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "csv")
CRLF = "\r\n"

# Shared by utf8_plain.csv and utf8_bom.csv
PLAIN_ROWS = [
    "id,name,city,amount,date,updated,id_card,code,note,padded",
    "1,张三,北京,1234.5,2021-03-04,2021-03-04 12:30:00,110105199003071234,00123,=SUM(A1),  two spaces each side  ",
    "2,李四,上海,-0.75,2020-12-31,2020-12-31 23:59:59,310101198512250018,00042,普通文本,\tlead tab",
    "3,王五,广州,42,2021-01-01,2021-01-01 00:00:00,44010619900101001X,007,=1+1,trail space ",
    "4,赵六,深圳,1e3,2000-02-29,2000-02-29 08:05:00,440300200002290011,0,中文，全角逗号,\" quoted pad \"",
]


def write(name, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def lines(rows, end=CRLF, final=True):
    return end.join(rows) + (end if final else "")


def pseudo_random(seed, size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(b"%s:%d" % (seed, counter)).digest()
        counter += 1
    return bytes(out[:size])


def main():
    os.makedirs(OUT, exist_ok=True)

    # --- encodings
    write("utf8_plain.csv", lines(PLAIN_ROWS))
    write("utf8_bom.csv", b"\xef\xbb\xbf" + lines(PLAIN_ROWS).encode("utf-8"))

    gbk_text = lines([
        "编号,姓名,城市,备注",
        "1,张三,北京,数据导出测试",
        "2,李四,上海,汉字编码为国标",
        "3,王五,广州,金额 1234.5 元",
    ])
    gbk = gbk_text.encode("gbk")
    try:
        gbk.decode("utf-8")
        raise SystemExit("gbk.csv must not be valid UTF-8")
    except UnicodeDecodeError:
        pass
    write("gbk.csv", gbk)

    utf16_text = lines([
        "id,name,city,amount",
        "1,张三,北京,12.5",
        "2,Zoë,Köln,-3",
        "3,李四,上海,2021-03-04",
    ])
    write("utf16le_bom.csv", b"\xff\xfe" + utf16_text.encode("utf-16-le"))
    write("utf16be_bom.csv", b"\xfe\xff" + utf16_text.encode("utf-16-be"))
    write("utf16le_nobom.csv", lines([
        "id,name,city,amount",
        "1,Alice,Berlin,12.5",
        "2,Bob,Paris,-3",
        "3,Carol,Oslo,2021-03-04",
    ]).encode("utf-16-le"))

    # --- delimiters: the header never holds another candidate, data rows do
    write("semicolon.csv", lines([
        "product;description;price;qty",
        "Widget;Blue, large, boxed;12,50;3",
        "Gadget;\"small; red\";7,25;10",
        "Gizmo;plain;3.5;1",
        "Doohickey;one, two;0,99;12",
        "Thing;tab\there|pipe;100;2",
    ]))
    write("tab.csv", lines([
        "name\tcity\tnote\tscore",
        "Smith, John\tLondon\ta;b;c\t12",
        "Doe, Jane\tParis\tx|y\t7.5",
        "Li Lei\tBeijing, CN\t\"quoted\ttab\"\t3",
        "Kim\tSeoul\tplain\t-1",
    ]))
    write("pipe.csv", lines([
        "code|label|comment|value",
        "A1|alpha, beta|semi;colon|1",
        "B2|gamma|tab\there|2.5",
        "C3|\"quoted|pipe\"|x, y, z|3",
        "D4|delta|none|4",
    ]))

    # --- quoting
    write("quoted_fields.csv", lines([
        "kind,value,after",
        "delimiter,\"a,b,c\",1",
        "doubled quotes,\"say \"\"hi\"\"\",2",
        "only a quote,\"\"\"\",3",
        "LF inside,\"line1\nline2\",4",
        "CRLF inside,\"line1\r\nline2\",5",
        "CR inside,\"line1\rline2\",6",
        "empty quoted,\"\",7",
        "quoted number,\"42\",8",
        "quoted spaces,\"  keep  \",9",
    ]))
    write("unterminated_quote.csv", lines([
        "id,name,note",
        "1,alpha,fine",
        "2,beta,\"this quote is never closed",
        "3,gamma,fine",
        "4,delta,fine",
        "5,epsilon,fine",
    ]))
    write("stray_quotes.csv", lines([
        "item,size,note",
        "frame,size 5\" x 7\",inches",
        "photo,\"abc\"def,text after a closing quote",
        "ruler,12\" long,\"properly \"\"quoted\"\"\"",
        "mark,a\"b\"c,quotes mid-field",
    ]))

    # --- line endings
    rows = ["a,b,c", "1,2,3", "4,5,6", "x,y,z"]
    write("line_endings_lf.csv", lines(rows, "\n"))
    write("line_endings_cr.csv", lines(rows, "\r"))
    write("mixed_line_endings.csv",
          "a,b,c\r\n1,2,3\n4,5,6\r\"multi\nline\",8,9\r\nx,y,z")

    # --- characters XML cannot hold as they are
    write("nul_bytes.csv", lines([
        "id,text",
        "1,ab\x00cd",
        "2,\x00leading",
        "3,trailing\x00",
        "4,中\x00文",
    ]))
    write("control_chars.csv", lines([
        "id,text",
        "1,start\x01end",
        "2,unit\x1fseparator",
        "3,_x0041_",
        "4,literal _x005F_ and _x000D_ text",
        "5,bell\x07 and vt\x0b",
        "6,_x12_ not an escape",
    ]))

    # --- shape
    write("empty.csv", b"")
    write("header_only.csv", "id,name,amount")
    write("blank_lines.csv", "a,b\r\n\r\n1,2\r\n\r\n\r\n3,4\r\n\r\n\r\n")
    write("ragged_rows.csv", lines([
        "a,b,c",
        "1",
        "1,2,3,4,5",
        "1,2",
        "1,2,3,",
        ",,,,,,x",
    ]))
    garbage = pseudo_random(b"quillmark-garbage", 4096)
    assert not garbage.startswith((b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff"))
    write("binary_garbage.csv", garbage)
    long_value = "".join("%09dx" % i for i in range(4000))  # 40,000 chars
    assert len(long_value) == 40000
    write("long_field.csv", lines([
        "id,text,tail",
        "1,short,a",
        "2," + long_value + ",b",
        "3,short again,c",
    ]))

    # --- typing: one column per case, header names the case
    numbers = [
        ("zero", "0"), ("neg_half", "-0.5"), ("dot_five", ".5"),
        ("five_dot", "5."), ("exp", "1e5"), ("exp_neg", "1E-3"),
        ("plus", "+7"), ("zero_padded", "007"), ("neg_zero_padded", "-012"),
        ("trailing_zero", "0.10"), ("spaced", " 42 "),
        ("digits15", "123456789012345"), ("digits16", "1234567890123456"),
        ("zeros16", "1000000000000000"), ("frac15", "12345678901234.5"),
        ("frac16", "0.1234567890123456"), ("small15", "0.000123456789012345"),
        ("thousands", '"1,234"'), ("suffix", "12abc"), ("double_sign", "--1"),
        ("two_points", "1.2.3"), ("hex", "0x1F"), ("inf", "inf"), ("nan", "nan"),
        ("arabic_indic", "\u0661\u0662\u0663"),
    ]
    write("numbers_edge.csv", lines([",".join(n for n, _ in numbers),
                                     ",".join(v for _, v in numbers)]))
    dates = [
        ("iso", "2021-03-04"), ("slash", "2021/3/4"),
        ("iso_seconds", "2021-03-04 12:30:00"), ("iso_minutes", "2021-03-04 12:30"),
        ("feb30", "2021-02-30"), ("before_1900", "1899-12-31"),
        ("iso_short", "2021-3-4"), ("iso_t", "2021-03-04T12:30:00"),
        ("eight_digits", "20210304"), ("slash_one_digit_hour", "2021/03/04 7:05:09"),
        ("first_day", "1900-01-01"), ("before_leap_bug", "1900-02-28"),
        ("after_leap_bug", "1900-03-01"), ("leap_day", "2020-02-29"),
        ("month13", "2021-13-01"), ("mixed_separators", "2021/03-04"),
        ("hour24", "2021-03-04 24:00"), ("time_only", "12:30"),
    ]
    write("dates_edge.csv", lines([",".join(n for n, _ in dates),
                                   ",".join(v for _, v in dates)]))


if __name__ == "__main__":
    main()
