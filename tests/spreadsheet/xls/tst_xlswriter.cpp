// Saving workbooks as .xls, read back whole by xlrd and, where it is installed, by LibreOffice: every
// value arrives, rows past 65,536 continue on further sheets, and a save over the format's limits
// leaves the destination as it was.
#include "tests/spreadsheet/XlsxInspection.h"
#include "tests/TestFiles.h"

#include "spreadsheet/SpreadsheetApplication.h"

#include <QtTest>

using spreadsheet::SpreadsheetApplication;
using spreadsheet::Status;

namespace {

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QByteArray repeated(const char32_t c, int times)
{
    return QString::fromUcs4(&c, 1).repeated(times).toUtf8();
}

// Rows of every kind of value: numbers that take each number record, dates, 18-digit IDs, zero-padded
// codes, Chinese text, text outside the basic plane, an empty field. `distinct` bounds the repeats.
QByteArray mixedRows(int rows, int distinct)
{
    QByteArray csv = "n,amount,big,date,when,id,code,name,note,empty,last\n";
    for (int i = 1; i <= rows; ++i) {
        const int k = i % distinct;
        csv += QString::asprintf("%d,%d.%d,%lld,2021-%02d-%02d,2020-02-29 %02d:%02d:%02d,%lld,%05d,王芳%d,",
                                 i, k, i % 97, 123456789012LL + i, k % 12 + 1, k % 28 + 1, k % 24, k % 60,
                                 i % 60, 110105199003070000LL + i, k, k)
                   .toUtf8() +
               "\"note 😀, " + repeated(U'\U00020000', k % 7) + "\",," + (i % 3 ? "x" : "") + '\n';
    }
    return csv;
}

// Opens a CSV file as the automatic conversion does, or with text columns as the conversion by settings
// does, and saves it as .xls.
Status convert(const QString& source, const QString& output, const QList<int>& textColumns = {})
{
    SpreadsheetApplication app;
    app.displayAlerts = false;
    SpreadsheetApplication::WorkbookId id;
    spreadsheet::TextImport import;
    import.path = source.toStdString();
    import.origin = 65001;
    import.comma = true;
    for (int column : textColumns)
        import.fieldInfo.push_back({column, 2});
    const Status opened =
        textColumns.isEmpty() ? app.open(source.toStdString(), id) : app.openText(import, id);
    return opened.ok() ? app.saveAs(id, output.toStdString(), spreadsheet::kFileFormatXls) : opened;
}

} // namespace

class TestXlsWriter : public QObject
{
    Q_OBJECT

  private slots:
    void roundTripsFixture_data();
    void roundTripsFixture();
    void roundTripsGenerated_data();
    void roundTripsGenerated();
    void refusesOverLimits_data();
    void refusesOverLimits();
    void readsInLibreOffice();
    void showsValuesWhole();
};

void TestXlsWriter::roundTripsFixture_data()
{
    QTest::addColumn<QString>("file");
    for (const QString& file : roundTripFixtures())
        QTest::newRow(qPrintable(file)) << file;
}

void TestXlsWriter::roundTripsFixture()
{
    QFETCH(QString, file);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QFileInfo(file).completeBaseName() + QStringLiteral(".xls"));

    const Status saved = convert(fixturePath(file), output);
    QVERIFY2(saved.ok(), saved.message().c_str());
    QCOMPARE(entriesOf(dir.path()), QStringList{QFileInfo(output).fileName()});
    const PythonRun check =
        checkXlsRoundTrip(fixturePath(file), output, {QStringLiteral("--expect-text-fields")});
    QVERIFY2(check.ok(), check.report().constData());
}

void TestXlsWriter::roundTripsGenerated_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QList<int>>("textColumns");
    QTest::addColumn<QString>("sheets");

    QTest::newRow("70,000 rows on two sheets") << mixedRows(70000, 500) << QList<int>() << "data|data (2)";
    QTest::newRow("distinct strings over many records") << mixedRows(3000, 3000) << QList<int>() << "data";
    QTest::newRow("text columns") << mixedRows(300, 50) << QList<int>{2, 4, 6, 11} << "data";
    QTest::newRow("32,767 characters") << "head\n" + QByteArray(32767, 'x') << QList<int>() << "data";
    QTest::newRow("32,767 characters of two bytes")
        << "head\n" + repeated(U'\u4E2D', 32767) + ',' + repeated(U'\u00E9', 32767) << QList<int>() << "data";
    QTest::newRow("32,767 units with characters outside the basic plane")
        << "head\n" + repeated(U'\U0001F600', 16383) + "a,a" + repeated(U'\U0001F600', 16383) << QList<int>()
        << "data";
    QTest::newRow("256 columns") << QByteArray("x,").repeated(255) + "x\n1,中\n" << QList<int>() << "data";
}

void TestXlsWriter::roundTripsGenerated()
{
    QFETCH(QByteArray, csv);
    QFETCH(QList<int>, textColumns);
    QFETCH(QString, sheets);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("data.csv"));
    writeFile(source, csv);
    const QString output = dir.filePath(QStringLiteral("data.xls"));

    const Status saved = convert(source, output, textColumns);
    QVERIFY2(saved.ok(), saved.message().c_str());
    QStringList columns;
    for (int column : textColumns)
        columns << QString::number(column);
    const PythonRun check =
        checkXlsRoundTrip(source, output, {QStringLiteral("--text-columns"), columns.join(',')});
    QVERIFY2(check.ok(), check.report().constData());
    QVERIFY2(check.output.trimmed().endsWith(", sheets: " + sheets.toUtf8()), check.output.constData());
}

void TestXlsWriter::refusesOverLimits_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("limit"); // named in the message

    QTest::newRow("257 columns") << "head\n" + QByteArray("x,").repeated(256) + "x"
                                 << "256";
    QTest::newRow("32,768 characters") << "head\n" + QByteArray(32768, 'x') << "32767";
    QTest::newRow("32,768 units in characters outside the basic plane")
        << "head\n" + repeated(U'\U0001F600', 16384) << "32767";
}

void TestXlsWriter::refusesOverLimits()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, limit);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("over.csv"));
    writeFile(source, csv);
    const QString folder = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkdir(folder));
    const QString output = folder + QStringLiteral("/over.xls");

    // Nothing is written where there was nothing...
    Status saved = convert(source, output);
    QVERIFY(!saved.ok());
    QVERIFY2(QString::fromStdString(saved.message()).contains(limit), saved.message().c_str());
    QCOMPARE(entriesOf(folder), QStringList());

    // ...and an existing file keeps every byte.
    const QByteArray previous("\xD0\xCF\x11\xE0 an earlier workbook\n");
    writeFile(output, previous);
    saved = convert(source, output);
    QVERIFY(!saved.ok());
    QCOMPARE(readFile(output), previous);
    QCOMPARE(entriesOf(folder), QStringList{QStringLiteral("over.xls")});
}

void TestXlsWriter::readsInLibreOffice()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("data.csv"));
    writeFile(source, mixedRows(3000, 3000));
    const QString output = dir.filePath(QStringLiteral("data.xls"));
    const Status saved = convert(source, output);
    QVERIFY2(saved.ok(), saved.message().c_str());

    // The first sheet as LibreOffice shows it, in UTF-8, in a profile of its own.
    QProcess office;
    office.setProcessChannelMode(QProcess::MergedChannels);
    office.start(soffice, {"-env:UserInstallation=" + QUrl::fromLocalFile(dir.filePath("profile")).toString(),
                           "--headless", "--convert-to",
                           "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true", "--outdir",
                           dir.filePath("shown"), output});
    QVERIFY(office.waitForFinished(5 * 60 * 1000));
    const QString shown = dir.filePath(QStringLiteral("shown/data.csv"));
    QVERIFY2(QFileInfo::exists(shown), office.readAll().constData());
    const PythonRun check = checkXlsRoundTrip(source, QString(), {QStringLiteral("--shown"), shown});
    QVERIFY2(check.ok(), check.report().constData());
}

// What a person sees: a long number with every digit, columns wide enough for dates, date-times and IDs,
// wrapped text in a row tall enough, the values unchanged.
void TestXlsWriter::showsValuesWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("orders.csv"));
    writeFile(source, "order,created,updated,id,memo,n\n"
                      "6901234567892,2021-03-04,2021-03-04 12:30:00,110105199003071234,\"first\nsecond\",7\n");
    const QString output = dir.filePath(QStringLiteral("orders.xls"));
    const Status saved = convert(source, output);
    QVERIFY2(saved.ok(), saved.message().c_str());

    const PythonRun read = inspectWorkbook(R"py(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
sheet = book.sheet_by_index(0)
for column in range(sheet.ncols):
    cell = sheet.cell(1, column)
    xf = book.xf_list[cell.xf_index]
    info = sheet.colinfo_map.get(column)
    width = (info.width if info else sheet.defcolwidth * 256) / 256
    if cell.ctype == xlrd.XL_CELL_DATE:
        shown = 10 if cell.value == int(cell.value) else 19
    else:
        shown = max(len(line) for line in str(cell.value).split("\n"))
    print(column, repr(cell.value), book.format_map[xf.format_key].format_str.replace("\\", ""),
          xf.alignment.text_wrapped, width >= shown)
print("row 1 height", sheet.rowinfo_map[1].height / 20)
)py",
                                           {output});
    QVERIFY2(read.ok(), read.report().constData());
    const QStringList expected{
        QStringLiteral("0 6901234567892.0 0 0 True"),
        QStringLiteral("1 44259.0 yyyy-mm-dd 0 True"),
        QStringLiteral("2 44259.520833333336 yyyy-mm-dd hh:mm:ss 0 True"),
        QStringLiteral("3 '110105199003071234' General 0 True"),
        QStringLiteral("4 'first\\nsecond' General 1 True"),
        QStringLiteral("5 7.0 General 0 True"),
        QStringLiteral("row 1 height 30.0"),
    };
    QCOMPARE(QString::fromUtf8(read.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
}

QTEST_GUILESS_MAIN(TestXlsWriter)
#include "tst_xlswriter.moc"
