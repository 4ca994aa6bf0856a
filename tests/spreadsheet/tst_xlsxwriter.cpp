// Saving workbooks as .xlsx, read back by independent tools: what arrives, and that a failed save
// leaves the destination as it was.
#include "XlsxInspection.h"
#include "tests/TestFiles.h"

#include "spreadsheet/ParallelDeflate.h"
#include "spreadsheet/SaveSupport.h"
#include "spreadsheet/SharedStrings.h"
#include "spreadsheet/SpreadsheetApplication.h"
#include "spreadsheet/SheetXml.h"
#include "spreadsheet/XlsxWriter.h"

#include <QtTest>

#include <unistd.h>

using spreadsheet::SpreadsheetApplication;
using spreadsheet::Status;
using spreadsheet::Workbook;

namespace {

// Everything in a folder, hidden files (such as a temporary sibling) included.
QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray fromUcs4(char32_t c, int times)
{
    return QString::fromUcs4(&c, 1).repeated(times).toUtf8();
}

const char* messageOf(const Status& status)
{
    return status.message().c_str();
}

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

class TestXlsxWriter : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsFixture_data();
    void roundTripsFixture();
    void survivesBinaryGarbage();
    void acceptsAtLimits_data();
    void acceptsAtLimits();
    void refusesOverLimits_data();
    void refusesOverLimits();
    void failsInUnwritableFolder_data();
    void failsInUnwritableFolder();
    void replacesOnlyWithoutAlerts();
    void refusesOtherFormats_data();
    void refusesOtherFormats();
    void keepsTextColumnsAsText();
    void escapesCellText_data();
    void escapesCellText();
    void writesSheetData_data();
    void writesSheetData();
    void sharesTextsThatRepeat();
    void writesTextElements_data();
    void writesTextElements();
    void splitsIntoPieces_data();
    void splitsIntoPieces();
    void derivesSheetNames_data();
    void derivesSheetNames();
};

void TestXlsxWriter::roundTripsFixture_data()
{
    QTest::addColumn<QString>("file");
    for (const QString& file : roundTripFixtures())
        QTest::newRow(qPrintable(file)) << file;
}

void TestXlsxWriter::roundTripsFixture()
{
    QFETCH(QString, file);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    SpreadsheetApplication app;
    app.displayAlerts = false;
    SpreadsheetApplication::WorkbookId id;
    const Status opened = app.open(fixturePath(file).toStdString(), id);
    QVERIFY2(opened.ok(), messageOf(opened));
    const QString output = dir.filePath(QFileInfo(file).completeBaseName() + QStringLiteral(".xlsx"));
    const Status saved = app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXlsx);
    QVERIFY2(saved.ok(), messageOf(saved));
    QCOMPARE(entriesOf(dir.path()), QStringList{QFileInfo(output).fileName()});

    const PythonRun check = checkRoundTrip(fixturePath(file), output, {QStringLiteral("--expect-text-fields")});
    QVERIFY2(check.ok(), check.report().constData());
}

void TestXlsxWriter::survivesBinaryGarbage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SpreadsheetApplication app;
    SpreadsheetApplication::WorkbookId id;
    const Status opened = app.open(fixturePath(QStringLiteral("binary_garbage.csv")).toStdString(), id);
    QVERIFY2(opened.ok(), messageOf(opened));
    const QString output = dir.filePath(QStringLiteral("garbage.xlsx"));
    const Status saved = app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXlsx);
    if (saved.ok()) {
        const PythonRun read = inspectWorkbook("import openpyxl, sys; openpyxl.load_workbook(sys.argv[1])", {output});
        QVERIFY2(read.ok(), read.report().constData());
    } else {
        QVERIFY(!saved.message().empty());
        QCOMPARE(entriesOf(dir.path()), QStringList());
    }
}

void TestXlsxWriter::acceptsAtLimits_data()
{
    QTest::addColumn<QByteArray>("csv");

    QTest::newRow("32,767 characters") << "head\n" + QByteArray(32767, 'x');
    QTest::newRow("32,767 characters of three bytes") << "head\n" + fromUcs4(U'\u4E2D', 32767);
    QTest::newRow("32,767 units with characters outside the basic plane")
        << "head\n" + fromUcs4(U'\U0001F600', 16383) + "a";
    QTest::newRow("16,384 columns") << "head\n" + QByteArray("x,").repeated(16383) + "x";
    QTest::newRow("32,767 characters with a NUL")
        << "head\n" + QByteArray(16383, 'x') + QByteArray(1, '\0') + QByteArray(16383, 'x');
    QTest::newRow("32,767 characters with an escape-like text") << "head\n_x0041_" + QByteArray(32760, 'x');
}

void TestXlsxWriter::acceptsAtLimits()
{
    QFETCH(QByteArray, csv);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("limits.csv"));
    writeFile(source, csv);

    SpreadsheetApplication app;
    SpreadsheetApplication::WorkbookId id;
    const Status opened = app.open(source.toStdString(), id);
    QVERIFY2(opened.ok(), messageOf(opened));
    const QString output = dir.filePath(QStringLiteral("limits.xlsx"));
    const Status saved = app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXlsx);
    QVERIFY2(saved.ok(), messageOf(saved));
    const PythonRun check = checkRoundTrip(source, output);
    QVERIFY2(check.ok(), check.report().constData());
}

void TestXlsxWriter::refusesOverLimits_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("limit"); // named in the message

    QTest::newRow("32,768 characters") << QString() << "head\n" + QByteArray(32768, 'x') << "32767";
    QTest::newRow("32,768 units in characters outside the basic plane")
        << QString() << "head\n" + fromUcs4(U'\U0001F600', 16384) << "32767";
    QTest::newRow("16,385 columns") << QString() << "head\n" + QByteArray("x,").repeated(16384) + "x" << "16384";
    QTest::newRow("long_field.csv") << "long_field.csv" << QByteArray() << "32767";
}

void TestXlsxWriter::refusesOverLimits()
{
    QFETCH(QString, fixture);
    QFETCH(QByteArray, csv);
    QFETCH(QString, limit);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString source = fixture.isEmpty() ? QString() : fixturePath(fixture);
    if (source.isEmpty()) {
        source = dir.filePath(QStringLiteral("over.csv"));
        writeFile(source, csv);
    }
    const QString folder = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkdir(folder));
    const QString output = folder + QStringLiteral("/over.xlsx");

    SpreadsheetApplication app;
    app.displayAlerts = false;
    SpreadsheetApplication::WorkbookId id;
    const Status opened = app.open(source.toStdString(), id);
    QVERIFY2(opened.ok(), messageOf(opened));

    // Nothing is written where there was nothing...
    Status saved = app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXlsx);
    QVERIFY(!saved.ok());
    QVERIFY2(QString::fromStdString(saved.message()).contains(limit), messageOf(saved));
    QCOMPARE(entriesOf(folder), QStringList());

    // ...and an existing file keeps every byte.
    const QByteArray previous("PK\x03\x04 an earlier workbook\n");
    writeFile(output, previous);
    saved = app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXlsx);
    QVERIFY(!saved.ok());
    QCOMPARE(readFile(output), previous);
    QCOMPARE(entriesOf(folder), QStringList{QStringLiteral("over.xlsx")});
}

void TestXlsxWriter::failsInUnwritableFolder_data()
{
    QTest::addColumn<bool>("folderIsFile");

    QTest::newRow("read-only folder") << false;
    QTest::newRow("folder that is a file") << true;
}

void TestXlsxWriter::failsInUnwritableFolder()
{
    QFETCH(bool, folderIsFile);
    if (!folderIsFile && geteuid() == 0)
        QSKIP("permissions do not stop root from writing");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("folder"));
    const QByteArray plain("not a folder\n");
    if (folderIsFile)
        writeFile(folder, plain);
    else
        QVERIFY(QDir().mkdir(folder));

    SpreadsheetApplication app;
    app.displayAlerts = false;
    SpreadsheetApplication::WorkbookId id;
    QVERIFY(app.open(fixturePath(QStringLiteral("utf8_plain.csv")).toStdString(), id).ok());

    if (!folderIsFile)
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                  QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    const Status saved =
        app.saveAs(id, (folder + QStringLiteral("/out.xlsx")).toStdString(), spreadsheet::kFileFormatXlsx);
    if (!folderIsFile)
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QVERIFY(!saved.ok());
    QVERIFY(!saved.message().empty());
    if (folderIsFile) {
        QCOMPARE(readFile(folder), plain);
        QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("folder")});
    } else {
        QCOMPARE(entriesOf(folder), QStringList());
    }
}

void TestXlsxWriter::replacesOnlyWithoutAlerts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = fixturePath(QStringLiteral("utf8_plain.csv"));
    const QString output = dir.filePath(QStringLiteral("plain.xlsx"));
    const QByteArray previous("an earlier file\n");
    writeFile(output, previous);

    SpreadsheetApplication app;
    SpreadsheetApplication::WorkbookId id;
    QVERIFY(app.open(source.toStdString(), id).ok());

    app.displayAlerts = true;
    Status saved = app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXlsx);
    QVERIFY(!saved.ok());
    QCOMPARE(readFile(output), previous);

    app.displayAlerts = false;
    saved = app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXlsx);
    QVERIFY2(saved.ok(), messageOf(saved));
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("plain.xlsx")});
    const PythonRun check = checkRoundTrip(source, output);
    QVERIFY2(check.ok(), check.report().constData());
}

void TestXlsxWriter::refusesOtherFormats_data()
{
    QTest::addColumn<int>("format");

    QTest::newRow("57") << 57;
    QTest::newRow("99") << 99;
}

void TestXlsxWriter::refusesOtherFormats()
{
    QFETCH(int, format);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("book.xls"));

    SpreadsheetApplication app;
    app.displayAlerts = false;
    SpreadsheetApplication::WorkbookId id;
    QVERIFY(app.open(fixturePath(QStringLiteral("header_only.csv")).toStdString(), id).ok());

    Status saved = app.saveAs(id, output.toStdString(), format);
    QVERIFY(!saved.ok());
    QVERIFY(!saved.message().empty());
    QCOMPARE(entriesOf(dir.path()), QStringList());

    const QByteArray previous("an earlier file\n");
    writeFile(output, previous);
    saved = app.saveAs(id, output.toStdString(), format);
    QVERIFY(!saved.ok());
    QCOMPARE(readFile(output), previous);
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("book.xls")});
}

void TestXlsxWriter::keepsTextColumnsAsText()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("codes.xlsx"));

    Workbook workbook;
    workbook.sheets.emplace_back();
    spreadsheet::Sheet& sheet = workbook.sheets.back();
    sheet.name = "Codes";
    const char* const values[] = {"00123", "110105199003071234", "42", "=1+1", "2021-03-04"};
    for (std::size_t row = 0; row < std::size(values); ++row) {
        sheet.cells.setCell(row, 0, values[row]);
        sheet.cells.setCell(row, 1, values[row]);
    }
    sheet.setColumnText(0);
    sheet.setColumnText(20000); // past the last column: not written, the file stays valid
    const Status saved = spreadsheet::saveXlsx(workbook, output.toStdString());
    QVERIFY2(saved.ok(), messageOf(saved));

    const PythonRun read = inspectWorkbook(R"py(
import openpyxl, sys
ws = openpyxl.load_workbook(sys.argv[1])["Codes"]
for row in ws.iter_rows():
    for c in row:
        if c.value is not None:
            print(c.coordinate, c.data_type, repr(c.value), c.number_format.replace("\\", ""))
print("column A", ws.column_dimensions["A"].number_format)
)py",
                                           {output});
    QVERIFY2(read.ok(), read.report().constData());
    const QStringList expected{
        QStringLiteral("A1 s '00123' @"),
        QStringLiteral("B1 s '00123' General"),
        QStringLiteral("A2 s '110105199003071234' @"),
        QStringLiteral("B2 s '110105199003071234' General"),
        QStringLiteral("A3 s '42' @"),
        QStringLiteral("B3 n 42 General"),
        QStringLiteral("A4 s '=1+1' @"),
        QStringLiteral("B4 s '=1+1' General"),
        QStringLiteral("A5 s '2021-03-04' @"),
        QStringLiteral("B5 d datetime.datetime(2021, 3, 4, 0, 0) yyyy-mm-dd"),
        QStringLiteral("column A @"),
    };
    QCOMPARE(QString::fromUtf8(read.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
}

void TestXlsxWriter::escapesCellText_data()
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

void TestXlsxWriter::escapesCellText()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, stored);

    std::string out = "<t>";
    spreadsheet::appendCellText(out, std::string_view(text.constData(), std::size_t(text.size())));
    QCOMPARE(QByteArray(out.data(), int(out.size())), "<t>" + stored);
}

void TestXlsxWriter::writesSheetData_data()
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
                      R"(<c r="C1"><v>123456789012345</v></c><c r="D1"><v>-0</v></c></row>)");
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
    QTest::newRow("text column keeps numbers as text")
        << QStringList{"42|42"} << 0
        << QByteArray(R"(<row r="1"><c r="A1" s="1" t="s"><v>0</v></c><c r="B1"><v>42</v></c></row>)");
}

void TestXlsxWriter::writesSheetData()
{
    QFETCH(QStringList, rows);
    QFETCH(int, textColumn);
    QFETCH(QByteArray, sheetData);

    spreadsheet::Sheet sheet = sheetOf(rows);
    if (textColumn >= 0)
        sheet.setColumnText(std::size_t(textColumn));
    QCOMPARE(sheetDataOf(sheet), sheetData);
}

void TestXlsxWriter::sharesTextsThatRepeat()
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

void TestXlsxWriter::writesTextElements_data()
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

void TestXlsxWriter::writesTextElements()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, element);

    std::string out = "<si>";
    spreadsheet::appendTextElement(out, std::string_view(text.constData(), std::size_t(text.size())));
    QCOMPARE(QByteArray(out.data(), int(out.size())), "<si>" + element);
}

void TestXlsxWriter::splitsIntoPieces_data()
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

void TestXlsxWriter::splitsIntoPieces()
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

void TestXlsxWriter::derivesSheetNames_data()
{
    QTest::addColumn<QByteArray>("baseName");
    QTest::addColumn<QString>("sheetName");

    QTest::newRow("forbidden characters") << QByteArray("a[b]c:d*e?f/g\\h") << "abcdefgh";
    QTest::newRow("control characters") << QByteArray("line\nbreak\ttab\x7F") << "linebreaktab";
    QTest::newRow("surrounding apostrophes") << QByteArray("''quoted'") << "quoted";
    QTest::newRow("nothing allowed") << QByteArray("[*]") << "Sheet1";
    QTest::newRow("longer than 31") << QByteArray(40, 'n') << QString(31, 'n');
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    QTest::newRow("outside the basic plane") << emoji.repeated(16).toUtf8() << emoji.repeated(15);
    QTest::newRow("apostrophe at the cut") << QByteArray(30, 'n') + "'x" << QString(30, 'n');
    // GBK bytes of a file name on a UTF-8 file system.
    QTest::newRow("not UTF-8") << QByteArray("\xCA\xFD\xBE\xDD-2021") << QString(4, QChar(0xFFFD)) + "-2021";
}

void TestXlsxWriter::derivesSheetNames()
{
    QFETCH(QByteArray, baseName);
    QFETCH(QString, sheetName);

    QCOMPARE(QString::fromStdString(spreadsheet::sheetNameFor(baseName.toStdString())), sheetName);
}

QTEST_GUILESS_MAIN(TestXlsxWriter)
#include "tst_xlsxwriter.moc"
