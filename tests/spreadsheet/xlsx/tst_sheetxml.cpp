// The pieces of a worksheet part, byte for byte: escaped cell text, sheet data, shared and inline text
// elements, and how rows beyond a sheet's limit go on further sheets.
#include "spreadsheet/model/SaveSupport.h"
#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/xlsx/ParallelDeflate.h"
#include "spreadsheet/xlsx/SheetXml.h"

#include <QtTest>

using spreadsheet::Workbook;

namespace {

// The rows of a sheet, one string per row with cells split at '|' ("" is an empty cell).
spreadsheet::Sheet sheetOf(const QStringList& rows)
{
    spreadsheet::Sheet sheet;
    sheet.name = "Sheet1";
    for (int row = 0; row < rows.size(); ++row) {
        const QStringList cells = rows[row].split(QLatin1Char('|'));
        for (int column = 0; column < cells.size(); ++column) {
            if (!cells[column].isEmpty())
                sheet.cells.setCell(std::size_t(row), std::size_t(column), cells[column].toStdString());
        }
    }
    return sheet;
}

// What the worksheet XML holds between <sheetData> and </sheetData>.
QByteArray sheetDataOf(const spreadsheet::Sheet& sheet)
{
    std::string xml;
    spreadsheet::ParallelDeflate store(spreadsheet::ParallelDeflate::kPassThrough, 1,
                                       [&](const char* data, std::size_t size) {
                                           xml.append(data, size);
                                           return true;
                                       });
    spreadsheet::SharedStrings strings;
    spreadsheet::writeSheetXml({&sheet, 0, sheet.cells.rowCount(), sheet.name}, true, strings, store);
    if (!store.finish().ok())
        return "(not written)";
    const std::size_t begin = xml.find("<sheetData>");
    const std::size_t end = xml.find("</sheetData>");
    if (begin == std::string::npos || end == std::string::npos)
        return "(no sheetData)";
    return QByteArray::fromStdString(xml.substr(begin + 11, end - begin - 11));
}

} // namespace

class TestSheetXml : public QObject
{
    Q_OBJECT

private slots:
    void escapesCellText_data();
    void escapesCellText();
    void writesSheetData_data();
    void writesSheetData();
    void sharesTextsThatRepeat();
    void writesTextElements_data();
    void writesTextElements();
    void splitsIntoPieces_data();
    void splitsIntoPieces();
};


void TestSheetXml::escapesCellText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("markup characters") << QByteArray("<a & \"b\">'") << QByteArray("&lt;a &amp; \"b\"&gt;'");
    QTest::newRow("NUL inside") << QByteArray("a\0b", 3) << QByteArray("a_x0000_b");
    QTest::newRow("control characters") << QByteArray("\x01\x07\x0b\x1f") << QByteArray("_x0001__x0007__x000B__x001F_");
    QTest::newRow("carriage return") << QByteArray("a\r\nb") << QByteArray("a&#13;\nb");
    QTest::newRow("tab and line feed kept") << QByteArray("\ta\n") << QByteArray("\ta\n");
    QTest::newRow("escape-like text") << QByteArray("_x0041_") << QByteArray("_x005F_x0041_");
    QTest::newRow("two in a row") << QByteArray("_x0041__x0042_") << QByteArray("_x005F_x0041__x005F_x0042_");
    QTest::newRow("NUL next to escape-like text")
        << QByteArray("\0_x0041_", 8) << QByteArray("_x0000__x005F_x0041_");
    QTest::newRow("two hex digits") << QByteArray("_x12_") << QByteArray("_x005F_x12_");
    QTest::newRow("one and three hex digits") << QByteArray("_x1__x123_") << QByteArray("_x005F_x1__x005F_x123_");
    QTest::newRow("five hex digits") << QByteArray("_x12345_") << QByteArray("_x12345_");
    QTest::newRow("no digits") << QByteArray("_x_") << QByteArray("_x_");
    QTest::newRow("cut short at the end") << QByteArray("a_x12") << QByteArray("a_x12");
    QTest::newRow("not hex") << QByteArray("_x004G_") << QByteArray("_x004G_");
    QTest::newRow("upper-case X") << QByteArray("_X0041_") << QByteArray("_X0041_");
    QTest::newRow("U+FFFE and U+FFFF") << QByteArray("a\xEF\xBF\xBE\xEF\xBF\xBF") << QByteArray("a_xFFFE__xFFFF_");
    QTest::newRow("other characters from EF") << QByteArray("\xEF\xBF\xBD\xEF\xBB\xBF\xEF\xBC\x8C")
                                              << QByteArray("\xEF\xBF\xBD\xEF\xBB\xBF\xEF\xBC\x8C");
}

void TestSheetXml::escapesCellText()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, stored);

    std::string out = "<t>";
    spreadsheet::appendCellText(out, std::string_view(text.constData(), std::size_t(text.size())));
    QCOMPARE(QByteArray(out.data(), int(out.size())), "<t>" + stored);
}

void TestSheetXml::writesSheetData_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("textColumn"); // -1 for none
    QTest::addColumn<QByteArray>("sheetData");

    QTest::newRow("numbers, shared text and a date")
        << QStringList{"1|a|2021-03-04", "2|a|b"} << -1
        << QByteArray(R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1" t="s"><v>0</v></c><c r="C1" s="2"><v>44259</v></c></row>)"
                      R"(<row r="2"><c r="A2"><v>2</v></c><c r="B2" t="s"><v>0</v></c><c r="C2" t="s"><v>1</v></c></row>)");
    QTest::newRow("empty cells and rows without cells are left out")
        << QStringList{"1||3", "", "||", "|4"} << -1
        << QByteArray(R"(<row r="1"><c r="A1"><v>1</v></c><c r="C1"><v>3</v></c></row>)"
                      R"(<row r="4"><c r="B4"><v>4</v></c></row>)");
    QTest::newRow("places past column Z and row 9")
        << QStringList{"", "", "", "", "", "", "", "", "", QString("|").repeated(27) + "5|6"} << -1
        << QByteArray(R"(<row r="10"><c r="AB10"><v>5</v></c><c r="AC10"><v>6</v></c></row>)");
    QTest::newRow("plain numbers copied as written")
        << QStringList{"-12.50|0.000123|123456789012345|-0"} << -1
        << QByteArray(R"(<row r="1"><c r="A1"><v>-12.50</v></c><c r="B1"><v>0.000123</v></c>)"
                      R"(<c r="C1" s="5"><v>123456789012345</v></c><c r="D1"><v>-0</v></c></row>)");
    QTest::newRow("other numbers written as their value")
        << QStringList{"+5|.5|1e3| 42 |5."} << -1
        << QByteArray(R"(<row r="1"><c r="A1"><v>5</v></c><c r="B1"><v>0.5</v></c><c r="C1"><v>1000</v></c>)"
                      R"(<c r="D1"><v>42</v></c><c r="E1"><v>5</v></c></row>)");
    QTest::newRow("number-like text stays text")
        << QStringList{"00123|1234567890123456|1.2.3|-|0x1F"} << -1
        << QByteArray(R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c>)"
                      R"(<c r="D1" t="s"><v>3</v></c><c r="E1" t="s"><v>4</v></c></row>)");
    QTest::newRow("dates and times with their formats")
        << QStringList{"2021/3/4 12:30|2021-03-04 12:30:15"} << -1
        << QByteArray(R"(<row r="1"><c r="A1" s="3"><v>44259.520833333336</v></c>)"
                      R"(<c r="B1" s="4"><v>44259.521006944444</v></c></row>)");
    QTest::newRow("long numbers show every digit, 11 characters stay General")
        << QStringList{"12345678901|-123456789012|1234567890123|0.123456789|-1.23456789012| 1234567890123 |1.5e+20"}
        << -1
        << QByteArray(R"(<row r="1"><c r="A1"><v>12345678901</v></c><c r="B1" s="5"><v>-123456789012</v></c>)"
                      R"(<c r="C1" s="5"><v>1234567890123</v></c><c r="D1"><v>0.123456789</v></c>)"
                      R"(<c r="E1" s="6"><v>-1.23456789012</v></c><c r="F1" s="5"><v>1234567890123</v></c>)"
                      R"(<c r="G1"><v>1.5e+20</v></c></row>)");
    QTest::newRow("a printed double of 17 digits is a number")
        << QStringList{"0.26987858884967864|0.12345678901234567"} << -1
        << QByteArray(R"(<row r="1"><c r="A1" s="6"><v>0.26987858884967864</v></c><c r="B1" t="s"><v>0</v></c></row>)");
    QTest::newRow("=\"...\" is the text inside, other = text stays")
        << QStringList{R"(="00123"|="a""b"|=""|="1"+1|=SUM(A1))"} << -1
        << QByteArray(R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>)"
                      R"(<c r="C1" t="s"><v>2</v></c><c r="D1" t="s"><v>3</v></c><c r="E1" t="s"><v>4</v></c></row>)");
    QTest::newRow("text with a line break wraps in a row tall enough")
        << QStringList{"a\nb\nc|x\ny", "y"} << 1
        << QByteArray(R"(<row r="1" ht="45" customHeight="1"><c r="A1" s="7" t="s"><v>0</v></c>)"
                      R"(<c r="B1" s="8" t="s"><v>1</v></c></row><row r="2"><c r="A2" t="s"><v>2</v></c></row>)");
    QTest::newRow("text column keeps numbers as text")
        << QStringList{"42|42"} << 0
        << QByteArray(R"(<row r="1"><c r="A1" s="1" t="s"><v>0</v></c><c r="B1"><v>42</v></c></row>)");
}

void TestSheetXml::writesSheetData()
{
    QFETCH(QStringList, rows);
    QFETCH(int, textColumn);
    QFETCH(QByteArray, sheetData);

    spreadsheet::Sheet sheet = sheetOf(rows);
    if (textColumn >= 0)
        sheet.setColumnText(std::size_t(textColumn));
    QCOMPARE(sheetDataOf(sheet), sheetData);
}

void TestSheetXml::sharesTextsThatRepeat()
{
    // Column A never repeats, B repeats three texts, C repeats a little at first and not later.
    spreadsheet::Sheet sheet;
    sheet.name = "Sheet1";
    constexpr std::size_t kRows = 70000;
    for (std::size_t row = 0; row < kRows; ++row) {
        sheet.cells.setCell(row, 0, "id-" + std::to_string(row));
        sheet.cells.setCell(row, 1, std::string("abc").substr(row % 3, 1));
        sheet.cells.setCell(row, 2, row < 4096 ? "c" + std::to_string(row % 512) : "c" + std::to_string(row));
    }
    const QByteArray xml = sheetDataOf(sheet);
    auto kindOf = [&](const char* reference) -> QByteArray {
        const QByteArray start = QByteArray("<c r=\"") + reference + "\" t=\"";
        const int at = xml.indexOf(start);
        return at < 0 ? QByteArray("missing") : xml.mid(at + start.size(), xml.indexOf('"', at + start.size()) - at - start.size());
    };
    // A first look of 4,096 texts drops a column without repeats...
    QCOMPARE(kindOf("A4096"), QByteArray("s"));
    QCOMPARE(kindOf("A4097"), QByteArray("inlineStr"));
    // ...a column that repeats stays shared to the end...
    QCOMPARE(kindOf("B70000"), QByteArray("s"));
    QVERIFY(xml.contains(R"(<c r="B70000" t="s"><v>1</v></c>)")); // "a", the second text met
    // ...and one whose repeats stop is judged again after 65,536 texts.
    QCOMPARE(kindOf("C65536"), QByteArray("s"));
    QCOMPARE(kindOf("C65537"), QByteArray("inlineStr"));
    QVERIFY(xml.contains(R"(<c r="C65537" t="inlineStr"><is><t>c65536</t></is></c>)"));
}

void TestSheetXml::writesTextElements_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("element");

    QTest::newRow("plain") << QByteArray("abc") << QByteArray("<t>abc</t>");
    QTest::newRow("blank first") << QByteArray(" a") << QByteArray(R"(<t xml:space="preserve"> a</t>)");
    QTest::newRow("tab last") << QByteArray("a\t") << QByteArray("<t xml:space=\"preserve\">a\t</t>");
    QTest::newRow("line feed last") << QByteArray("a\n") << QByteArray("<t xml:space=\"preserve\">a\n</t>");
    QTest::newRow("markup past the first sixteen bytes")
        << QByteArray(40, 'x') + "<&>" + QByteArray(20, 'y') + "_x0041_"
        << "<t>" + QByteArray(40, 'x') + "&lt;&amp;&gt;" + QByteArray(20, 'y') + "_x005F_x0041_</t>";
    QTest::newRow("control character at a sixteen-byte border")
        << QByteArray(15, 'x') + "\x01" + QByteArray(16, 'y') + "\x7f\xe4\xb8\xad"
        << "<t>" + QByteArray(15, 'x') + "_x0001_" + QByteArray(16, 'y') + "\x7f\xe4\xb8\xad</t>";
}

void TestSheetXml::writesTextElements()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, element);

    std::string out = "<si>";
    spreadsheet::appendTextElement(out, std::string_view(text.constData(), std::size_t(text.size())));
    QCOMPARE(QByteArray(out.data(), int(out.size())), "<si>" + element);
}

void TestSheetXml::splitsIntoPieces_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<int>("maxRows");
    QTest::addColumn<QStringList>("pieces"); // sheet index, name, first row + row count

    const QString d = QStringLiteral("Data");
    QTest::newRow("fits") << QStringList{d} << QList<int>{3} << 3 << QStringList{"0 Data 0+3"};
    QTest::newRow("one row more") << QStringList{d} << QList<int>{4} << 3
                                  << QStringList{"0 Data 0+3", "0 Data (2) 3+1"};
    QTest::newRow("three pieces") << QStringList{d} << QList<int>{7} << 3
                                  << QStringList{"0 Data 0+3", "0 Data (2) 3+3", "0 Data (3) 6+1"};
    QTest::newRow("name already taken, in another case")
        << QStringList{d, "data (2)"} << QList<int>{4, 1} << 3
        << QStringList{"0 Data 0+3", "0 Data (3) 3+1", "1 data (2) 0+1"};
    QTest::newRow("two sheets split") << QStringList{"A", "B"} << QList<int>{4, 5} << 3
                                      << QStringList{"0 A 0+3", "0 A (2) 3+1", "1 B 0+3", "1 B (2) 3+2"};
    QTest::newRow("31 characters cut for the number")
        << QStringList{"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"} << QList<int>{4} << 3
        << QStringList{"0 ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 0+3", "0 ABCDEFGHIJKLMNOPQRSTUVWXYZ0 (2) 3+1"};
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    QTest::newRow("cut between characters outside the basic plane")
        << QStringList{emoji.repeated(15) + "a"} << QList<int>{4} << 3
        << QStringList{"0 " + emoji.repeated(15) + "a 0+3", "0 " + emoji.repeated(13) + " (2) 3+1"};
}

void TestSheetXml::splitsIntoPieces()
{
    QFETCH(QStringList, names);
    QFETCH(QList<int>, rows);
    QFETCH(int, maxRows);
    QFETCH(QStringList, pieces);

    Workbook workbook;
    for (int i = 0; i < names.size(); ++i) {
        workbook.sheets.emplace_back();
        workbook.sheets.back().name = names[i].toStdString();
        for (int row = 0; row < rows[i]; ++row)
            workbook.sheets.back().cells.setCell(std::size_t(row), 0, "x");
    }
    QStringList got;
    for (const spreadsheet::SheetPiece& piece : spreadsheet::splitIntoPieces(workbook, std::size_t(maxRows))) {
        got << QStringLiteral("%1 %2 %3+%4")
                   .arg(piece.sheet - workbook.sheets.data())
                   .arg(QString::fromStdString(piece.name))
                   .arg(piece.firstRow)
                   .arg(piece.rowCount);
    }
    QCOMPARE(got, pieces);
}

QTEST_APPLESS_MAIN(TestSheetXml)
#include "tst_sheetxml.moc"
