// Automation objects served by the system (COM, under Wine): Wine's own Scripting.Dictionary, and a
// recording stand-in for an installed spreadsheet application, registered under a program identifier of
// its own, that whole batches of both conversion modes drive.

#include "automation/AutomationObject.h"
#include "automation/AutomationServers.h"
#include "convert/StatusTexts.h"
#include "platform/ComInitialization.h"
#include "platform/SystemAutomation.h"
#include "platform/TextFileOpener.h"
#include "tests/convert/BatchWorker.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

Q_DECLARE_METATYPE(AutomationServers::Choice)

class TestSystemAutomation : public QObject
{
    Q_OBJECT

    QTemporaryDir temporary_;
    QString programId_, classId_, log_;

    QString native(const QString& path) const { return QDir::toNativeSeparators(temporary_.filePath(path)); }

    // The recording server's log once its last object has gone, with the temporary file the text import
    // reads written as STAGED.
    QStringList calls() const
    {
        QStringList lines;
        const bool ended = QTest::qWaitFor(
            [&] {
                QFile file(log_);
                lines = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                                       : QStringList();
                return lines.contains(QStringLiteral("released"));
            },
            30000);
        if (!ended)
            qWarning("the recording server has not ended");
        for (QString& line : lines) {
            if (line.startsWith(QLatin1String("Workbooks.OpenText(")))
                line = QStringLiteral("Workbooks.OpenText(STAGED") + line.mid(line.indexOf(QLatin1String(", ")));
        }
        return lines;
    }

private slots:
    void initTestCase()
    {
        platform::initializeAutomationForThread();
        platform::setTextFileOpener([](const QString&) {});
        QVERIFY(temporary_.isValid());
        programId_ = QStringLiteral("QuillmarkTest.Recorder.%1").arg(QCoreApplication::applicationPid());
        classId_ = QUuid::createUuid().toString();
        log_ = native(QStringLiteral("calls.log"));
        QCOMPARE(QProcess::execute(QStringLiteral(QUILLMARK_RECORDING_SERVER),
                                   {QStringLiteral("--register"), programId_, classId_, log_}),
                 0);
        QVERIFY2(platform::systemAutomationServerRegistered(programId_), "COM does not know the recording server");
        QVERIFY2(!platform::systemAutomationServerRegistered(QStringLiteral("Excel.Application")),
                 "this Wine prefix has a spreadsheet application of its own");
    }
    void cleanupTestCase()
    {
        QProcess::execute(QStringLiteral(QUILLMARK_RECORDING_SERVER),
                          {QStringLiteral("--unregister"), programId_, classId_});
    }
    void init() { QFile::remove(log_); }
    void cleanup() { AutomationServers::restoreDefaults(); }

    // Calls, property reads and writes, values both ways, and errors, through Wine's dictionary object.
    void drivesASystemObject()
    {
        AutomationObject dictionary;
        QVERIFY(dictionary.setControl(QStringLiteral("Scripting.Dictionary")));
        QVERIFY(dictionary.isSystemServer());
        QSignalSpy errors(&dictionary, &AutomationObject::exception);

        // A property writer by ActiveQt's name: keys compared as text, without regard to case.
        dictionary.dynamicCall("SetCompareMode(int)", QStringLiteral("1"));
        QCOMPARE(dictionary.property("CompareMode"), QVariant(1));
        const qlonglong id = 110101199003072316LL;
        dictionary.dynamicCall("Add(const QString&, QVariant)", QStringLiteral("身份证"), id);
        dictionary.dynamicCall("Add(QString, QVariant)", QStringLiteral("Name"), QStringLiteral("张三"));
        QCOMPARE(dictionary.property("Count"), QVariant(2));
        QCOMPARE(dictionary.dynamicCall("Item(const QString&)", QStringLiteral("身份证")), QVariant(id));
        QCOMPARE(dictionary.dynamicCall("Exists (const QString& key)", QStringLiteral("NAME")), QVariant(true));
        QCOMPARE(dictionary.dynamicCall("Keys()").toList(), (QVariantList{QStringLiteral("身份证"), QStringLiteral("Name")}));
        QCOMPARE(errors.size(), 0);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("NoSuchMember")));
        QVERIFY(!dictionary.dynamicCall("NoSuchMember()").isValid());
        QCOMPARE(errors.size(), 0);
        dictionary.dynamicCall("Remove(const QString&)", QStringLiteral("absent"));
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0][0].toInt() != 0);
        QVERIFY(!errors[0][2].toString().isEmpty());
    }

    // Which server a program identifier gets under each choice: the recorder stands for an installed
    // application; this prefix has no "Excel.Application" of its own.
    void choosesTheServer_data()
    {
        QTest::addColumn<AutomationServers::Choice>("choice");
        QTest::addColumn<bool>("recorder");
        QTest::addColumn<QString>("expected");
        using C = AutomationServers::Choice;
        QTest::newRow("system first, registered") << C::SystemFirst << true << "system";
        QTest::newRow("system only, registered") << C::SystemOnly << true << "system";
        QTest::newRow("own only, registered with the system") << C::OwnOnly << true << "none";
        QTest::newRow("system first, none installed") << C::SystemFirst << false << "own";
        QTest::newRow("system only, none installed") << C::SystemOnly << false << "none";
        QTest::newRow("own only") << C::OwnOnly << false << "own";
    }
    void choosesTheServer()
    {
        QFETCH(AutomationServers::Choice, choice);
        QFETCH(bool, recorder);
        QFETCH(QString, expected);
        AutomationServers::setChoice(choice);
        {
            const std::unique_ptr<Dispatch> server =
                AutomationServers::create(recorder ? programId_ : QStringLiteral("Excel.Application"));
            QCOMPARE(QString::fromLatin1(server ? (server->isSystemServer() ? "system" : "own") : "none"), expected);
        }
        if (expected == QLatin1String("system"))
            QCOMPARE(calls(), (QStringList{"created", "released"}));
    }

    // A whole batch through the recorder as "Excel.Application": the calls, their arguments and their
    // order, and what the batch makes of a failing "Open" and "SaveAs". SRC and OUT stand for the folders.
    void batchFollowsTheTable_data()
    {
        QTest::addColumn<bool>("bySettings");
        QTest::addColumn<bool>("cellByCell");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("converted");
        const QStringList opening{"created", "Application.Visible = false", "Application.DisplayAlerts = false",
                                  "Application.WorkBooks()"};
        const QStringList closing{"Application.Quit()", "released"};
        QTest::newRow("automatic") << false << false << QStringList{"a.csv", "fail-open.csv", "fail-save.csv"}
                                   << opening + QStringList{"Workbooks.Open(SRC\\a.csv)",
                                                            "Workbook.SaveAs(OUT\\a.xlsx, 51)",
                                                            "Workbook.Close(false)",
                                                            "Workbooks.Open(SRC\\fail-open.csv)",
                                                            "Workbooks.Open(SRC\\fail-save.csv)",
                                                            "Workbook.SaveAs(OUT\\fail-save.xlsx, 51)",
                                                            "Workbook.Close(false)"} +
                                          closing
                                   << 1;
        const QString openText = "Workbooks.OpenText(STAGED, 936, 1, 1, 1, false, false, false, true, false, false, "
                                 "936, [[2, 2], [3, 2]])";
        QTest::newRow("text import") << true << false << QStringList{"a.csv", "fail-save.csv"}
                                     << opening + QStringList{openText, "Application.ActiveWorkBook()",
                                                              "Workbook.SaveAs(OUT\\a.xlsx, 51)",
                                                              "Workbook.Close(false)", openText,
                                                              "Application.ActiveWorkBook()",
                                                              "Workbook.SaveAs(OUT\\fail-save.xlsx, 51)",
                                                              "Workbook.Close(false)"} +
                                            closing
                                     << 1;
        QTest::newRow("cell by cell")
            << true << true << QStringList{"a.csv"}
            << opening + QStringList{"Workbooks.Add()",         "Application.ActiveWorkBook()",
                                     "Application.ActiveSheet()", "Sheet.Columns(2)",
                                     "Range.NumberFormatLocal = @", "Sheet.Columns(3)",
                                     "Range.NumberFormatLocal = @", "Sheet.Cells(1, 1)",
                                     "Range.Value = 身份证",     "Sheet.Cells(1, 2)",
                                     "Range.Value = 0012",        "Workbook.SaveAs(OUT\\a.xlsx, 51)",
                                     "Workbook.Close(false)"} +
                   closing
            << 1;
    }
    void batchFollowsTheTable()
    {
        QFETCH(bool, bySettings);
        QFETCH(bool, cellByCell);
        QFETCH(QStringList, files);
        QFETCH(QStringList, expected);
        QFETCH(int, converted);
        QTemporaryDir folders;
        const QString source = folders.filePath(QStringLiteral("source")), output = folders.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(output));
        for (const QString& file : files)
            writeFile(source + QLatin1Char('/') + file, "身份证,0012");
        const QString recorder = programId_;
        AutomationServers::registerServer(QStringLiteral("Excel.Application"), [recorder] {
            QString error;
            return platform::createSystemAutomationServer(recorder, error);
        });
        ConversionOptions options;
        options.SourcePath = QDir::toNativeSeparators(source);
        options.SavePath = QDir::toNativeSeparators(output);
        options.FailListPath = output + QStringLiteral("/failed.txt");
        options.vbaOpenFunFomatArg = 3; // comma
        options.SetTextFormat = true;
        options.TextFormatColumns = QStringLiteral("2,3");
        options.OtherLanguage = cellByCell;

        BatchWorker worker;
        QVERIFY(worker.run(options, bySettings ? &MergeObject::Transform : &MergeObject::AutoTransform));

        expected.replaceInStrings(QStringLiteral("SRC"), QDir::toNativeSeparators(source))
            .replaceInStrings(QStringLiteral("OUT"), QDir::toNativeSeparators(output));
        QCOMPARE(calls(), expected);
        QVERIFY(worker.statuses.contains(StatusTexts::spreadsheetInUse(true)));
        QCOMPARE(worker.report().converted, converted);
        // The server's own words on each failure reach the report.
        const QString reasons = worker.report().failures.join(QLatin1Char('\n'));
        QCOMPARE(worker.report().failures.size(), files.size() - converted);
        QCOMPARE(reasons.contains(QLatin1String("cannot open")), files.contains(QLatin1String("fail-open.csv")));
        QCOMPARE(reasons.contains(QLatin1String("cannot save")), files.contains(QLatin1String("fail-save.csv")));
    }
};

QTEST_GUILESS_MAIN(TestSystemAutomation)
#include "tst_systemautomation.moc"
