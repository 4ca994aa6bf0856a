// Splitting delimited text into rows and fields, and detecting its delimiter.
#include "spreadsheet/read/DelimitedText.h"
#include "tests/TestFiles.h"

#include <QtTest>

using spreadsheet::CellGrid;
using spreadsheet::ColumnImport;
using spreadsheet::DelimitedOptions;

namespace {

// The grid as text: one line per row, each cell in brackets, trailing empty cells left out (they show
// nothing), so "[a][b]\n\n[c]" is a row a,b, an empty row and a row c.
QByteArray render(const CellGrid& grid)
{
    QByteArrayList rows;
    for (std::size_t row = 0; row < grid.rowCount(); ++row) {
        std::size_t count = grid.cellCount(row);
        while (count > 0 && grid.cell(row, count - 1).empty())
            --count;
        QByteArray line;
        for (std::size_t column = 0; column < count; ++column) {
            const std::string_view text = grid.cell(row, column);
            line += '[' + QByteArray(text.data(), int(text.size())) + ']';
        }
        rows << line;
    }
    return rows.join('\n');
}

QByteArray render(const std::vector<ColumnImport>& formats)
{
    QByteArray out;
    for (ColumnImport format : formats)
        out += format == ColumnImport::Text ? 'T' : format == ColumnImport::Skip ? 'S' : 'G';
    return out;
}

std::vector<ColumnImport> columnsFrom(const QByteArray& letters)
{
    std::vector<ColumnImport> columns;
    for (char c : letters)
        columns.push_back(c == 'T' ? ColumnImport::Text : c == 'S' ? ColumnImport::Skip : ColumnImport::General);
    return columns;
}

} // namespace

class TestDelimitedText : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void startRow_data();
    void startRow();
    void columnImports_data();
    void columnImports();
    void detectDelimiter_data();
    void detectDelimiter();
    void separatorLine_data();
    void separatorLine();
};

void TestDelimitedText::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("delimiters");
    QTest::addColumn<bool>("quoted");
    QTest::addColumn<bool>("consecutiveAsOne");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QByteArray>("expected");

    auto row = [](const char* name, const QByteArray& text, int rows, const QByteArray& expected) {
        QTest::newRow(name) << text << QByteArray(",") << true << false << rows << expected;
    };

    // Quoting.
    row("delimiter inside quotes", "a,\"b,c\",d\n", 1, "[a][b,c][d]");
    row("doubled quotes", "\"say \"\"hi\"\"\",\"\"\"\"\n", 1, "[say \"hi\"][\"]");
    row("line breaks inside quotes kept exactly", "\"1\n2\",\"3\r\n4\",\"5\r6\",x\ny\n", 2,
        "[1\n2][3\r\n4][5\r6][x]\n[y]");
    row("empty quoted field", "\"\",x\n", 1, "[][x]");
    row("quoted blanks kept", "\"  keep  \",\"42\"\n", 1, "[  keep  ][42]");
    row("text after closing quote", "\"abc\"def,x\n", 1, "[abcdef][x]");
    row("quotes inside unquoted field", "size 5\" x 7\",12\" long,a\"b\"c\n", 1, "[size 5\" x 7\"][12\" long][a\"b\"c]");
    row("unterminated quote keeps later rows", "1,a\n2,\"never closed\n3,c\n4,d\n", 4,
        "[1][a]\n[2][\"never closed]\n[3][c]\n[4][d]");
    row("unterminated quote at the end", "1,a\n2,\"x", 2, "[1][a]\n[2][\"x]");
    row("unterminated after doubled quote", "a,\"b\"\"\nc,d\n", 2, "[a][\"b\"\"]\n[c][d]");

    // Line breaks.
    row("CR LF", "a,b\r\nc,d\r\n", 2, "[a][b]\n[c][d]");
    row("CR", "a,b\rc,d\r", 2, "[a][b]\n[c][d]");
    row("mixed", "a\r\nb\nc\rd", 4, "[a]\n[b]\n[c]\n[d]");
    row("LF CR is two line breaks", "a\n\rb\n", 3, "[a]\n\n[b]");
    row("empty lines in the middle", "a,b\r\n\r\n1,2\r\n", 3, "[a][b]\n\n[1][2]");
    row("nothing", "", 0, "");

    // Empty fields.
    row("trailing delimiter", "a,b,\nc,\n", 2, "[a][b]\n[c]");
    row("trailing delimiter at the end", "a,b,", 1, "[a][b]");
    row("empty fields keep positions", ",,x\n,y\n", 2, "[][][x]\n[][y]");
    row("NUL is an ordinary byte", QByteArray("a\0b,c\n", 6), 1, QByteArray("[a\0b][c]", 8));

    QTest::newRow("consecutive delimiters as one")
        << QByteArray("a,,b,,,c\n1,2\n") << QByteArray(",") << true << true << 2 << QByteArray("[a][b][c]\n[1][2]");
    QTest::newRow("consecutive delimiters kept apart")
        << QByteArray("a,,b,,,c\n") << QByteArray(",") << true << false << 1 << QByteArray("[a][][b][][][c]");
    QTest::newRow("consecutive delimiters before a quoted field")
        << QByteArray("a,,\"b,c\"\n") << QByteArray(",") << true << true << 1 << QByteArray("[a][b,c]");
    QTest::newRow("several delimiters")
        << QByteArray("a,b;c\td\n\"x;y\";z\n") << QByteArray(",;\t") << true << false << 2
        << QByteArray("[a][b][c][d]\n[x;y][z]");
}

void TestDelimitedText::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, delimiters);
    QFETCH(bool, quoted);
    QFETCH(bool, consecutiveAsOne);
    QFETCH(int, rows);
    QFETCH(QByteArray, expected);

    DelimitedOptions options;
    options.delimiters = delimiters.toStdString();
    options.quoted = quoted;
    options.consecutiveDelimitersAsOne = consecutiveAsOne;
    const CellGrid grid = spreadsheet::parseDelimited(text.toStdString(), options);
    QCOMPARE(render(grid), expected);
    QCOMPARE(int(grid.rowCount()), rows);
}

void TestDelimitedText::startRow_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("third row") << QByteArray("h\nskip\n1,2\n3,4\n") << 3 << QByteArray("[1][2]\n[3][4]");
    QTest::newRow("counts records, not lines")
        << QByteArray("\"a\nb\",x\nc,d\n") << 2 << QByteArray("[c][d]");
    QTest::newRow("skipped rows leave no text behind")
        << QByteArray("\"long skipped text\",\"more\"\nx\n") << 2 << QByteArray("[x]");
    QTest::newRow("past the end") << QByteArray("a\nb\n") << 5 << QByteArray("");
}

void TestDelimitedText::startRow()
{
    QFETCH(QByteArray, text);
    QFETCH(int, startRow);
    QFETCH(QByteArray, expected);

    DelimitedOptions options;
    options.startRow = std::size_t(startRow);
    QCOMPARE(render(spreadsheet::parseDelimited(text.toStdString(), options)), expected);
}

void TestDelimitedText::columnImports_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("columns"); // G general, T text, S skip, per source column
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QByteArray>("formats"); // per output column

    QTest::newRow("skip moves later columns left")
        << QByteArray("a,b,c,d\n1,2,3,4\n") << QByteArray("GSTG") << QByteArray("[a][c][d]\n[1][3][4]")
        << QByteArray("GTG");
    QTest::newRow("skip a quoted field with delimiter and line break")
        << QByteArray("\"x,\ny\",z\n") << QByteArray("S") << QByteArray("[z]") << QByteArray("G");
    QTest::newRow("text column only where rows reach it")
        << QByteArray("a,b\n") << QByteArray("GGGT") << QByteArray("[a][b]") << QByteArray("GG");
    QTest::newRow("text first column") << QByteArray("00123,x\n") << QByteArray("T") << QByteArray("[00123][x]")
                                       << QByteArray("TG");
    QTest::newRow("ragged rows") << QByteArray("a\n1,2,3\n") << QByteArray("STS") << QByteArray("\n[2]")
                                 << QByteArray("T");
}

void TestDelimitedText::columnImports()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, columns);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, formats);

    DelimitedOptions options;
    options.columns = columnsFrom(columns);
    std::vector<ColumnImport> got;
    const CellGrid grid = spreadsheet::parseDelimited(text.toStdString(), options, &got);
    QCOMPARE(render(grid), expected);
    QCOMPARE(render(got), formats);
}

void TestDelimitedText::detectDelimiter_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<char>("delimiter");

    QTest::newRow("comma") << QByteArray("a,b,c\n1,2,3\n") << ',';
    QTest::newRow("semicolon with commas in fields")
        << QByteArray("p;d;price\nW;Blue, large, boxed;12,50\nG;\"small; red\";7,25\n") << ';';
    QTest::newRow("tab with commas, semicolons and pipes")
        << QByteArray("n\tc\tnote\nSmith, John\tLondon\ta;b;c\nDoe\tParis\tx|y\n") << '\t';
    QTest::newRow("pipe with a quoted pipe") << QByteArray("a|b|c\n1|\"x|y\"|z, w\n2|3|4;5\n") << '|';
    QTest::newRow("commas only inside quotes") << QByteArray("\"a,b,c\";x\n\"d,e,f\";y\n") << ';';
    QTest::newRow("quoted line break is not a record end")
        << QByteArray("a;\"x\ny, z, w\";b\nc;d;e\n") << ';';
    // A quote inside a field is an ordinary character (an inch mark): it opens nothing.
    QTest::newRow("inch mark") << QByteArray("a,b;c;d\n1,2;3;4\n5;6\" wide;7\n8;9;10\n11;12;13\n") << ';';
    QTest::newRow("inch marks before quoted fields")
        << QByteArray("a|b|c\n12\" x|\"p, q\"|r\n1|2|3\n4|5|6\n") << '|';
    // Quoted fields that span lines and hold another delimiter: the split must be judged by records.
    QTest::newRow("semicolons inside quoted lines")
        << QByteArray("id,addr\n1,\"Rue A; 3\nParis; FR\"\n2,\"Rue B; 4\nLyon; FR\"\n") << ',';
    QTest::newRow("commas inside quoted lines")
        << QByteArray("id;addr\n1;\"Rue A, 3\nParis, FR\"\n2;\"Rue B, 4\nLyon, FR\"\n") << ';';
    QTest::newRow("tabs inside quoted lines")
        << QByteArray("id|note\n1|\"a\tb\nc\td\"\n2|\"e\tf\ng\th\"\n") << '|';
    // A tie does not go to the comma when another delimiter splits every record as consistently.
    QTest::newRow("tab with a comma in every name") << QByteArray("Smith, John\tJones\nDoe, Jane\tRoe\n") << '\t';
    QTest::newRow("semicolon with decimal commas") << QByteArray("1,5;2,5\n3,7;4,1\n") << ';';
    QTest::newRow("comma splits more records") << QByteArray("name,value\nfoo;bar,1\nbaz;qux,2\n") << ',';
    // Records of one field fit every delimiter: the few quoted records with several fields decide.
    QTest::newRow("sparse quoted records")
        << QByteArray("\"Amount\";\"Amount\";\"Code\"\n\"a\"\n\"322982593298358\";\" 00123 \";\"alpha\"\n\"1\"\n\"b\"\n")
        << ';';
    QTest::newRow("sparse tab records with commas in single fields")
        << QByteArray("x\ty\nHello, world\nsome, more, text\n1\t2\nok\n") << '\t';
    QTest::newRow("single line") << QByteArray("id;name;amount") << ';';
    QTest::newRow("empty") << QByteArray() << ',';
    QTest::newRow("semicolon.csv") << fixtureBytes("semicolon.csv") << ';';
    QTest::newRow("tab.csv") << fixtureBytes("tab.csv") << '\t';
    QTest::newRow("pipe.csv") << fixtureBytes("pipe.csv") << '|';
}

void TestDelimitedText::detectDelimiter()
{
    QFETCH(QByteArray, text);
    QFETCH(char, delimiter);

    QCOMPARE(spreadsheet::detectDelimiter(text.toStdString()), delimiter);
}

void TestDelimitedText::separatorLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("length");
    QTest::addColumn<char>("delimiter");

    QTest::newRow("semicolon, CR LF") << QByteArray("sep=;\r\na;b\r\n") << 7 << ';';
    QTest::newRow("tab, LF") << QByteArray("sep=\t\na\tb\n") << 6 << '\t';
    QTest::newRow("pipe, CR") << QByteArray("sep=|\ra|b") << 6 << '|';
    QTest::newRow("the whole text") << QByteArray("sep=,") << 5 << ',';
    QTest::newRow("upper case") << QByteArray("SEP=;\n1;2\n") << 6 << ';';
    QTest::newRow("more on the line") << QByteArray("sep=;;\n") << 0 << '\0';
    QTest::newRow("no character") << QByteArray("sep=\nx\n") << 0 << '\0';
    QTest::newRow("a quote") << QByteArray("sep=\"\nx\n") << 0 << '\0';
    QTest::newRow("not on the first line") << QByteArray("a,b\nsep=;\n") << 0 << '\0';
}

// A first line "sep=X" names the delimiter and is not a row.
void TestDelimitedText::separatorLine()
{
    QFETCH(QByteArray, text);
    QFETCH(int, length);
    QFETCH(char, delimiter);

    char named = '\0';
    QCOMPARE(int(spreadsheet::separatorLineLength(text.toStdString(), named)), length);
    QCOMPARE(named, delimiter);
}

QTEST_APPLESS_MAIN(TestDelimitedText)
#include "tst_delimitedtext.moc"
