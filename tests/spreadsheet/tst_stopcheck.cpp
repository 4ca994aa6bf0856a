// A request to stop reaching the embedded spreadsheet application in the middle of an import or a save:
// the operation ends as stopped, opens no workbook, and leaves no file behind, not even its temporary one;
// a workbook that was there before stays as it was.

#include "spreadsheet/SpreadsheetApplication.h"
#include "tests/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using spreadsheet::SpreadsheetApplication;

namespace {

// A probe that says "stop" at its `stopAt`-th question (never for 0) and counts the questions.
struct CountingProbe
{
    int stopAt = 0;
    std::shared_ptr<int> asked = std::make_shared<int>(0);

    spreadsheet::StopCheck check() const
    {
        return spreadsheet::StopCheck([stopAt = stopAt, asked = asked] { return ++*asked == stopAt; });
    }
};

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestStopCheck : public QObject
{
    Q_OBJECT

    QTemporaryDir folder_;
    QString csv_; // 100,000 rows

  private slots:
    void initTestCase()
    {
        QVERIFY(folder_.isValid());
        csv_ = folder_.filePath(QStringLiteral("rows.csv"));
        writeFile(csv_, largeCsv(100000));
    }

    // Both writers stop at the check asked for, in either pass of the .xls writer; a workbook of the same
    // name that existed before is not touched. A probe that never says stop lets the save complete.
    void stopsASave_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("stopAt");
        QTest::addColumn<bool>("existing");
        QTest::newRow("xlsx, before writing") << int(spreadsheet::kFileFormatXlsx) << 1 << false;
        QTest::newRow("xlsx, half way") << int(spreadsheet::kFileFormatXlsx) << 3 << false;
        QTest::newRow("xlsx over an existing workbook") << int(spreadsheet::kFileFormatXlsx) << 3 << true;
        QTest::newRow("xls, while measuring") << int(spreadsheet::kFileFormatXls) << 100 << false;
        // 100,000 rows are 3,125 row blocks a pass: the second pass writes the file.
        QTest::newRow("xls, while writing") << int(spreadsheet::kFileFormatXls) << 5000 << false;
        QTest::newRow("xls over an existing workbook") << int(spreadsheet::kFileFormatXls) << 5000 << true;
        QTest::newRow("xlsx, never stopped") << int(spreadsheet::kFileFormatXlsx) << 0 << false;
        QTest::newRow("xls, never stopped") << int(spreadsheet::kFileFormatXls) << 0 << false;
    }
    void stopsASave()
    {
        QFETCH(int, format);
        QFETCH(int, stopAt);
        QFETCH(bool, existing);
        QTemporaryDir output;
        const QString path = output.filePath(QStringLiteral("rows.") + (format == spreadsheet::kFileFormatXlsx
                                                                            ? QStringLiteral("xlsx")
                                                                            : QStringLiteral("xls")));
        if (existing)
            writeFile(path, "an earlier workbook");

        SpreadsheetApplication application;
        application.displayAlerts = false;
        SpreadsheetApplication::WorkbookId opened = SpreadsheetApplication::kNoWorkbook;
        QVERIFY(application.open(csv_.toStdString(), opened).ok());
        const CountingProbe probe{stopAt};
        application.setStopCheck(probe.check());
        const spreadsheet::Status saved = application.saveAs(opened, path.toStdString(), format);

        if (stopAt == 0) {
            QVERIFY2(saved.ok(), saved.message().c_str());
            QVERIFY(*probe.asked > 2); // asked along the way, not only at the start
            QCOMPARE(entriesOf(output.path()), QStringList{QFileInfo(path).fileName()});
            return;
        }
        QCOMPARE(QString::fromStdString(saved.message()),
                 QString::fromStdString(spreadsheet::stoppedStatus().message()));
        QCOMPARE(*probe.asked, stopAt); // not asked again once it said stop
        QCOMPARE(entriesOf(output.path()),
                 existing ? QStringList{QFileInfo(path).fileName()} : QStringList());
        if (existing)
            QCOMPARE(readFile(path), QByteArray("an earlier workbook"));
        // Once stopped, the application stays stopped: nothing further is opened or written.
        QVERIFY(!application.saveAs(opened, path.toStdString(), format).ok());
        QCOMPARE(*probe.asked, stopAt);
    }

    // Both imports stop before reading, or between blocks of records, and open no workbook.
    void stopsAnImport_data()
    {
        QTest::addColumn<bool>("textImport");
        QTest::addColumn<int>("stopAt");
        QTest::newRow("open, before reading") << false << 1;
        QTest::newRow("open, while parsing") << false << 5;
        QTest::newRow("text import, before reading") << true << 1;
        QTest::newRow("text import, while parsing") << true << 5;
        QTest::newRow("open, never stopped") << false << 0;
        QTest::newRow("text import, never stopped") << true << 0;
    }
    void stopsAnImport()
    {
        QFETCH(bool, textImport);
        QFETCH(int, stopAt);
        SpreadsheetApplication application;
        const CountingProbe probe{stopAt};
        application.setStopCheck(probe.check());
        SpreadsheetApplication::WorkbookId opened = SpreadsheetApplication::kNoWorkbook;
        spreadsheet::Status status;
        if (textImport) {
            spreadsheet::TextImport import;
            import.path = csv_.toStdString();
            import.origin = 65001;
            import.comma = true;
            status = application.openText(import, opened);
        } else {
            status = application.open(csv_.toStdString(), opened);
        }
        if (stopAt == 0) {
            QVERIFY2(status.ok(), status.message().c_str());
            QCOMPARE(application.workbook(application.activeWorkbook())->sheets.at(0).cells.rowCount(),
                     std::size_t(100001));
            return;
        }
        QCOMPARE(QString::fromStdString(status.message()),
                 QString::fromStdString(spreadsheet::stoppedStatus().message()));
        QCOMPARE(opened, SpreadsheetApplication::kNoWorkbook);
        QCOMPARE(application.activeWorkbook(), SpreadsheetApplication::kNoWorkbook);
        QCOMPARE(*probe.asked, stopAt);
    }
};

QTEST_GUILESS_MAIN(TestStopCheck)
#include "tst_stopcheck.moc"
