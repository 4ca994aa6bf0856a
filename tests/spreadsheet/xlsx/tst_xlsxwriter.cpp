// Saving workbooks as .xlsx, read back by independent tools: what arrives, and that a failed save
// leaves the destination as it was.
#include "tests/spreadsheet/XlsxInspection.h"
#include "tests/TestFiles.h"

#include "spreadsheet/SpreadsheetApplication.h"
#include "spreadsheet/model/SaveSupport.h"
#include "spreadsheet/xlsx/XlsxWriter.h"

#include <QtTest>

#ifndef _WIN32
#include <unistd.h>
#endif

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
    void showsValuesWhole();
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
#ifdef _WIN32
    if (!folderIsFile)
        QSKIP("a folder's read-only attribute does not stop writing into it on Windows");
#else
    if (!folderIsFile && geteuid() == 0)
        QSKIP("permissions do not stop root from writing");
#endif

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
// What a person sees: long numbers with every digit, columns wide enough for dates and IDs, wrapped text in
// rows tall enough, the values unchanged.
void TestXlsxWriter::showsValuesWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("orders.xlsx"));

    Workbook workbook;
    workbook.sheets.emplace_back();
    spreadsheet::Sheet& sheet = workbook.sheets.back();
    sheet.name = "Orders";
    const char* const header[] = {"order", "created", "updated", "id", "memo", "n"};
    const char* const values[] = {"6901234567892", "2021-03-04", "2021-03-04 12:30:00", "110105199003071234",
                                  "first\nsecond", "7"};
    for (std::size_t column = 0; column < std::size(values); ++column) {
        sheet.cells.setCell(0, column, header[column]);
        sheet.cells.setCell(1, column, values[column]);
    }
    const Status saved = spreadsheet::saveXlsx(workbook, output.toStdString());
    QVERIFY2(saved.ok(), messageOf(saved));

    const PythonRun read = inspectWorkbook(R"py(
import openpyxl, sys
ws = openpyxl.load_workbook(sys.argv[1])["Orders"]
for c in ws[2]:
    width = ws.column_dimensions[c.column_letter].width
    shown = 10 if c.number_format.endswith("dd") else 19 if c.data_type == "d" else \
        max(len(line) for line in str(c.value).split("\n"))
    print(c.coordinate, repr(c.value), c.number_format.replace("\\", ""), c.alignment.wrap_text or False,
          width >= shown and width >= len(str(ws.cell(1, c.column).value)))
print("row 2 height", ws.row_dimensions[2].height)
)py",
                                           {output});
    QVERIFY2(read.ok(), read.report().constData());
    const QStringList expected{
        QStringLiteral("A2 6901234567892 0 False True"),
        QStringLiteral("B2 datetime.datetime(2021, 3, 4, 0, 0) yyyy-mm-dd False True"),
        QStringLiteral("C2 datetime.datetime(2021, 3, 4, 12, 30) yyyy-mm-dd hh:mm:ss False True"),
        QStringLiteral("D2 '110105199003071234' General False True"),
        QStringLiteral("E2 'first\\nsecond' General True True"),
        QStringLiteral("F2 7 General False True"),
        QStringLiteral("row 2 height 30.0"),
    };
    QCOMPARE(QString::fromUtf8(read.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
}

QTEST_GUILESS_MAIN(TestXlsxWriter)
#include "tst_xlsxwriter.moc"
