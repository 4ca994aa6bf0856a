// The automation objects of the embedded spreadsheet application, driven by member strings exactly as
// the conversion worker drives them.

#include "automation/AutomationObject.h"
#include "automation/AutomationServers.h"
#include "tests/TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char* const kSaveAs = "SaveAs(const QString&, QVariant)";
const char* const kOpenText =
    "OpenText(const QString&,int,int,int,int,bool,bool,bool,bool,bool,bool,int,QList<LongLong>)";

// Reads cells back through an independent reader: "A1=value;B1=value" for the first sheet.
QString readBack(const QString& workbook)
{
    QProcess python;
    python.start(QStringLiteral(QUILLMARK_PYTHON),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, openpyxl\n"
                                 "ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]\n"
                                 "print(';'.join('%s=%r' % (c.coordinate, c.value) for r in ws.iter_rows() "
                                 "for c in r if c.value is not None))"),
                  workbook});
    python.waitForFinished(60000);
    return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
}

} // namespace

class TestAutomationObject : public QObject
{
    Q_OBJECT

private slots:
    void init() { AutomationServers::restoreDefaults(); }
    void cleanup() { AutomationServers::restoreDefaults(); }

    void bindsTheSpreadsheetApplication()
    {
        AutomationObject application;
        QVERIFY(application.isNull());
        QVERIFY(application.setControl(QStringLiteral("Excel.Application")));
        QVERIFY(!application.isNull());
        application.dynamicCall("SetVisible (bool Visible)", QStringLiteral("false"));
        QCOMPARE(application.property("Visible").toBool(), false);
        QVERIFY(application.setProperty("DisplayAlerts", false));
        QCOMPARE(application.property("DisplayAlerts").toBool(), false);
        AutomationObject* workbooks = application.querySubObject("WorkBooks");
        QVERIFY(workbooks);
        QCOMPARE(workbooks->parent(), &application);
    }

    void missingServerLeavesWorkbooksNull()
    {
        AutomationServers::unregisterServer(QStringLiteral("Excel.Application"));
        AutomationObject application;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("could not be instantiated"));
        QVERIFY(!application.setControl(QStringLiteral("Excel.Application")));
        QVERIFY(application.isNull());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not bound"));
        QCOMPARE(application.querySubObject("WorkBooks"), nullptr);
    }

    void unknownMemberWarnsAndGivesNothing_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::newRow("near miss of a call") << QByteArray("SetVisible(bool Visible)");
        QTest::newRow("other case") << QByteArray("quit(void)");
        QTest::newRow("empty") << QByteArray("");
    }
    void unknownMemberWarnsAndGivesNothing()
    {
        QFETCH(QByteArray, member);
        AutomationObject application(QStringLiteral("Excel.Application"));
        QSignalSpy exceptions(&application, &AutomationObject::exception);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no such member"));
        QVERIFY(!application.dynamicCall(member.constData()).isValid());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no such member"));
        QCOMPARE(application.querySubObject(member.constData()), nullptr);
        QCOMPARE(exceptions.count(), 0);
    }

    void openSaveAndClose()
    {
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("report.2021.csv"));
        writeFile(csv, "id,code,name\n110105199003071234,00123,\xE5\xBC\xA0\xE4\xB8\x89\n");
        AutomationObject application(QStringLiteral("Excel.Application"));
        application.setProperty("DisplayAlerts", false);
        AutomationObject* workbooks = application.querySubObject("WorkBooks");
        AutomationObject* workbook = workbooks->querySubObject("Open(const QString&)", csv);
        QVERIFY(workbook);
        QSignalSpy exceptions(workbook, &AutomationObject::exception);
        const QString out = dir.filePath(QStringLiteral("report.2021.xlsx"));
        workbook->dynamicCall(kSaveAs, out, 51);
        QCOMPARE(exceptions.count(), 0);
        QCOMPARE(readBack(out), QStringLiteral("A1='id';B1='code';C1='name';A2='110105199003071234';"
                                               "B2='00123';C2='张三'"));
        workbook->dynamicCall("Close (Boolean)", false);
        QCOMPARE(application.querySubObject("ActiveWorkBook"), nullptr);
        application.dynamicCall("Quit(void)");
    }

    void failuresRaiseTheExceptionSignal_data()
    {
        QTest::addColumn<int>("fileFormat");
        QTest::addColumn<QString>("target");
        QTest::newRow("xls into a missing folder") << 56 << QStringLiteral("missing/deeper/out.xls");
        QTest::newRow("unknown format") << 99 << QStringLiteral("out.xlsx");
        QTest::newRow("folder missing") << 51 << QStringLiteral("missing/deeper/out.xlsx");
    }
    void failuresRaiseTheExceptionSignal()
    {
        QFETCH(int, fileFormat);
        QFETCH(QString, target);
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("a.csv"));
        writeFile(csv, "1,2\n");
        AutomationObject application(QStringLiteral("Excel.Application"));
        application.setProperty("DisplayAlerts", false);
        AutomationObject* workbook =
            application.querySubObject("WorkBooks")->querySubObject("Open(const QString&)", csv);
        QVERIFY(workbook);
        QSignalSpy exceptions(workbook, &AutomationObject::exception);
        QVERIFY(!workbook->dynamicCall(kSaveAs, dir.filePath(target), fileFormat).isValid());
        QCOMPARE(exceptions.count(), 1);
        QVERIFY(!exceptions.first().at(2).toString().isEmpty());
        QVERIFY(!QFileInfo::exists(dir.filePath(target)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // only a.csv
    }

    void openOfMissingFileGivesNullAndException()
    {
        AutomationObject application(QStringLiteral("Excel.Application"));
        AutomationObject* workbooks = application.querySubObject("WorkBooks");
        QSignalSpy exceptions(workbooks, &AutomationObject::exception);
        QCOMPARE(workbooks->querySubObject("Open(const QString&)", QStringLiteral("/nonexistent/x.csv")), nullptr);
        QCOMPARE(exceptions.count(), 1);
    }

    void existingFileNeedsAlertsOff()
    {
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("a.csv"));
        const QString out = dir.filePath(QStringLiteral("a.xlsx"));
        writeFile(csv, "1\n");
        writeFile(out, "keep me");
        AutomationObject application(QStringLiteral("Excel.Application"));
        AutomationObject* workbook =
            application.querySubObject("WorkBooks")->querySubObject("Open(const QString&)", csv);
        QSignalSpy exceptions(workbook, &AutomationObject::exception);
        workbook->dynamicCall(kSaveAs, out, 51); // alerts on: nobody to ask, so no replacement
        QCOMPARE(exceptions.count(), 1);
        QFile kept(out);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("keep me"));
        kept.close();
        application.setProperty("DisplayAlerts", false);
        workbook->dynamicCall(kSaveAs, out, 51);
        QCOMPARE(exceptions.count(), 1);
        QCOMPARE(readBack(out), QStringLiteral("A1=1"));
    }

    void cellByCellIntoAnAddedWorkbook()
    {
        QTemporaryDir dir;
        AutomationObject application(QStringLiteral("Excel.Application"));
        application.setProperty("DisplayAlerts", false);
        AutomationObject* workbooks = application.querySubObject("WorkBooks");
        workbooks->dynamicCall("Add");
        AutomationObject* workbook = application.querySubObject("ActiveWorkBook");
        AutomationObject* sheet = application.querySubObject("ActiveSheet");
        QVERIFY(workbook && sheet);
        sheet->querySubObject("Columns(int)", 2)->setProperty("NumberFormatLocal", QStringLiteral("@"));
        const QStringList fields{QStringLiteral("007"), QStringLiteral("007"), QStringLiteral("한국어 😀")};
        for (int c = 0; c < fields.size(); ++c)
            sheet->querySubObject("Cells(int, int)", 1, c + 1)->dynamicCall("SetValue(const QVariant&)", fields[c]);
        sheet->querySubObject("Cells(int, int)", 2, 1)->dynamicCall("SetValue(const QVariant&)", QStringLiteral("12"));
        // A cell written again, out of order, holds the last value.
        sheet->querySubObject("Cells(int, int)", 1, 3)->dynamicCall("SetValue(const QVariant&)", QStringLiteral("x"));
        const QString out = dir.filePath(QStringLiteral("cells.xlsx"));
        workbook->dynamicCall(kSaveAs, out, 51);
        // Column 1 is general (007 is kept as text by the value rules), column 2 is text.
        QCOMPARE(readBack(out), QStringLiteral("A1='007';B1='007';C1='x';A2=12"));
    }

    void cellAddressesOutsideTheSheetFail_data()
    {
        QTest::addColumn<QVariant>("row");
        QTest::addColumn<QVariant>("column");
        QTest::newRow("row 0") << QVariant(0) << QVariant(1);
        QTest::newRow("column 0") << QVariant(1) << QVariant(0);
        QTest::newRow("column past the format") << QVariant(1) << QVariant(16385);
        QTest::newRow("not a number") << QVariant(QStringLiteral("x")) << QVariant(1);
    }
    void cellAddressesOutsideTheSheetFail()
    {
        QFETCH(QVariant, row);
        QFETCH(QVariant, column);
        AutomationObject application(QStringLiteral("Excel.Application"));
        application.querySubObject("WorkBooks")->dynamicCall("Add");
        AutomationObject* sheet = application.querySubObject("ActiveSheet");
        QSignalSpy exceptions(sheet, &AutomationObject::exception);
        QCOMPARE(sheet->querySubObject("Cells(int, int)", row, column), nullptr);
        QCOMPARE(sheet->querySubObject("Columns(int)", column.toInt() == 1 ? row : column), nullptr);
        QCOMPARE(exceptions.count(), 2);
    }

    void textImportWithFieldInfo()
    {
        QTemporaryDir dir;
        const QString txt = dir.filePath(QStringLiteral("staged.txt"));
        // GBK text: "编号" (code) and "名称" (name).
        writeFile(txt, QByteArray("\xB1\xE0\xBA\xC5\t\xC3\xFB\xB3\xC6\tskip\n00123\t4,5\tx\n"));
        AutomationObject application(QStringLiteral("Excel.Application"));
        application.setProperty("DisplayAlerts", false);
        AutomationObject* workbooks = application.querySubObject("WorkBooks");
        QList<QVariant> fieldInfo{QVariant(QList<QVariant>{1, 2}), QVariant(QList<QVariant>{3, 9})};
        QList<QVariant> arguments{txt, 936, 1, 1, 1, false, true, false, false, false, false, 936,
                                  QVariant(fieldInfo)};
        workbooks->dynamicCall(kOpenText, arguments);
        AutomationObject* workbook = application.querySubObject("ActiveWorkBook");
        QVERIFY(workbook);
        const QString out = dir.filePath(QStringLiteral("staged.xlsx"));
        workbook->dynamicCall(kSaveAs, out, 51);
        // Only the flagged delimiter (tab) splits: "4,5" stays one field.
        QCOMPARE(readBack(out), QStringLiteral("A1='编号';B1='名称';A2='00123';B2='4,5'"));
    }

    void textImportRejectsBadArguments()
    {
        AutomationObject application(QStringLiteral("Excel.Application"));
        AutomationObject* workbooks = application.querySubObject("WorkBooks");
        QSignalSpy exceptions(workbooks, &AutomationObject::exception);
        QList<QVariant> tooFew{QStringLiteral("/tmp/x.txt"), 936};
        workbooks->dynamicCall(kOpenText, tooFew);
        QList<QVariant> columnZero{QStringLiteral("/tmp/x.txt"), 936, 1, 1, 1, false, true, false, false, false,
                                   false, 936, QVariant(QList<QVariant>{QVariant(QList<QVariant>{0, 2})})};
        workbooks->dynamicCall(kOpenText, columnZero);
        QCOMPARE(exceptions.count(), 2);
        QCOMPARE(application.querySubObject("ActiveWorkBook"), nullptr);
    }
};

QTEST_GUILESS_MAIN(TestAutomationObject)
#include "tst_automationobject.moc"
