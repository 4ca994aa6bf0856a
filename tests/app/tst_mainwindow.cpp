// The window driven by object names and real clicks: the choices it restores and writes back, the folder
// checks, batches started from it and how it shows them, a later start of the program, the update, the
// tray icon, the usage notes and the quiet start.

#include "../convert/HookedDispatch.h"

#include "app/AppPaths.h"
#include "app/MainWindow.h"
#include "app/ProgressDisplay.h"
#include "app/QtTranslation.h"
#include "app/RunningCopy.h"
#include "app/SystemTray.h"
#include "app/UsageNotes.h"
#include "convert/ConversionOptions.h"
#include "convert/StatusTexts.h"
#include "platform/ScreenSize.h"
#include "platform/TextFileOpener.h"
#include "tests/TestFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

constexpr int kBatchTimeout = 60000;

// Answers every message box that opens while it lives, noting "title|text".
class ModalBoxCloser : public QObject
{
  public:
    ModalBoxCloser()
    {
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen << box->windowTitle() + QLatin1Char('|') + box->text();
                box->done(0);
            }
        });
        timer_.start(10);
    }
    QStringList seen;

  private:
    QTimer timer_;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<MainWindow> window_;
    QString chosenFolder_; // what the folder dialog answers
    QSemaphore gate_;
    QList<QPointer<QThread>> batchThreads_; // the thread of each batch, as its application started
    QList<bool> earlierThreadsGone_;        // whether the earlier batches' threads were gone by then

    QString path(const QString& relative) const { return folder_->filePath(relative); }
    QString settingsPath() const { return path(QStringLiteral("Quillmark.qmk")); }
    // Starts the program as with `arguments` after the program path, with its files in the test folder.
    void openWindow(const QByteArrayList& arguments = {})
    {
        const QByteArray program = QFile::encodeName(path(QStringLiteral("Quillmark")));
        std::vector<const char*> argv{program.constData()};
        for (const QByteArray& argument : arguments)
            argv.push_back(argument.constData());
        FillAppPaths(g_AppPaths, int(argv.size()), argv.data());
        window_ = std::make_unique<MainWindow>();
        window_->setFolderChooser([this](QWidget*) { return chosenFolder_; });
    }
    template <class T = QWidget> T* child(const char* name) const
    {
        T* found = window_->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("the window has no %s", name);
        return found;
    }
    void click(const char* name) { QTest::mouseClick(child(name), Qt::LeftButton); }
    void type(const char* name, const QString& text) { QTest::keyClicks(child(name), text); }
    QString status() const { return child<QLabel>("lb_ShowDisposing")->text(); }
    QString native(const QString& file) const { return QDir::toNativeSeparators(file); }
    // Starts an automatic batch of one file, saved beside it, held at the gate before the file opens.
    void startHeldBatch(const QString& source)
    {
        writeFile(source + "/a.csv", "name\r\nalpha\r\n");
        type("lEdt_SourcePath", source);
        click("cBox_SaveToQuondamPath");
        gate_.acquire(gate_.available());
        click("pBtn_AutoTransform");
        QTRY_COMPARE_WITH_TIMEOUT(status(), native(source + "/a.csv"), kBatchTimeout);
    }
    bool batchRunning() const
    {
        return !child("pBtn_AutoTransform")->isEnabled() && !child("pBtn_Transform")->isEnabled();
    }
    // 940 × 420, unless a large desktop font makes the contents need more.
    QSize normalSize() const { return QSize(940, 420).expandedTo(window_->minimumSize()); }
    // The remembered choices as the window shows them: "source | output | where | format | delimiter".
    QString shownChoices() const
    {
        QStringList shown{child<QLineEdit>("lEdt_SourcePath")->text(),
                          child<QLineEdit>("lEdt_SavePath")->text()};
        const bool outputLocked = !child("pBtn_SavePath")->isEnabled() && !child("lEdt_SavePath")->isEnabled();
        shown << (child<QCheckBox>("cBox_SaveToQuondamPath")->isChecked() ? "next to source" : "to output") +
                     QString(outputLocked ? " (locked)" : "");
        for (const char* name :
             {"rBtn_xlsx", "rBtn_xls", "rBtn_Tabs", "rBtn_Semicolon", "rBtn_Comma", "rBtn_Space"}) {
            if (child<QRadioButton>(name)->isChecked())
                shown << QString::fromLatin1(name);
        }
        return shown.join(QStringLiteral(" | "));
    }

  private slots:
    void initTestCase()
    {
        // Complaints of the offscreen platform, and of connect-by-name about slots that are no button's.
        static const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (!text.startsWith(QLatin1String("This plugin does not support")) &&
                    !text.contains(QLatin1String("systemTrayWindowChanged")) &&
                    !text.contains(QLatin1String("on_Signal_")))
                    previous(type, context, text);
            });
        platform::setTextFileOpener([](const QString&) {}); // launch nothing
        updateCheckStarted = true;                          // and ask no update server
    }
    void init()
    {
        folder_ = std::make_unique<QTemporaryDir>();
        g_ConversionOptions = ConversionOptions();
        chosenFolder_.clear();
        batchThreads_.clear();
        earlierThreadsGone_.clear();
        // The spreadsheet application waits at the gate before each file it opens.
        registerHookedApplication(
            [this](const QByteArray& member, const QVariantList&) {
                if (member.startsWith("Open"))
                    gate_.acquire();
            },
            [this] { // on the batch's own thread
                bool gone = true;
                for (const QPointer<QThread>& earlier : batchThreads_)
                    gone = gone && earlier.isNull();
                earlierThreadsGone_ << gone;
                batchThreads_ << QThread::currentThread();
            });
        gate_.release(1000); // open unless a test holds it
    }
    void cleanup()
    {
        gate_.release(1000); // a batch held by a failed test must end: the window waits for it
        window_.reset();
        gate_.acquire(gate_.available());
        AutomationServers::restoreDefaults();
    }

    // Placed by the form's height, centred across and a third down, then given its normal size.
    void placement()
    {
        QCOMPARE(InitialWindowPosition(QSize(1920, 1080), QSize(940, 520)), QPoint(490, 186));
        QCOMPARE(InitialWindowPosition(QSize(801, 519), QSize(940, 520)), QPoint(-69, 0)); // toward zero
        openWindow();
        const platform::ScreenSize screen = platform::primaryScreenSize();
        QCOMPARE(window_->pos(), InitialWindowPosition(QSize(screen.width, screen.height), QSize(940, 520)));
        QCOMPARE(window_->size(), normalSize());
        QCOMPARE(window_->windowTitle(), QStringLiteral("Quillmark7.0"));
        QVERIFY(!window_->windowIcon().availableSizes().isEmpty());
        QVERIFY(status().endsWith(QStringLiteral("【支持Office2010及以上版本、WPS专业版】")));
    }

    // The first byte of each remembered option decides; restoring writes nothing back.
    void restoresChoices_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no settings file
        QTest::addColumn<QString>("shown");
        QTest::newRow("no file") << QByteArray() << " |  | to output | rBtn_xlsx | rBtn_Tabs";
        QTest::newRow("every choice") // the settings file is in the system's 8-bit encoding
            << QStringLiteral("SourcePath=/数据/源/\r\nSavePath=/out/\r\nSaveToQuondamPath=y\r\n"
                              "xlsxMode=n\r\nvbaOpenFunFomatArg=3\r\n")
                   .toLocal8Bit()
            << "/数据/源/ | /out/ | next to source (locked) | rBtn_xls | rBtn_Comma";
        QTest::newRow("first bytes count")
            << QByteArray("SaveToQuondamPath= yes \r\nxlsxMode=no\r\nvbaOpenFunFomatArg=24\r\n")
            << " |  | next to source (locked) | rBtn_xls | rBtn_Semicolon";
        QTest::newRow("case matters")
            << QByteArray("SaveToQuondamPath=Y\r\nxlsxMode=N\r\nvbaOpenFunFomatArg=4\r\n")
            << " |  | to output | rBtn_xlsx | rBtn_Space";
        QTest::newRow("unknown values") << QByteArray("xlsxMode=x\r\nvbaOpenFunFomatArg=5\r\n")
                                        << " |  | to output | rBtn_xlsx | rBtn_Tabs";
    }
    void restoresChoices()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, shown);
        if (!settings.isNull())
            writeFile(settingsPath(), settings);
        openWindow();
        QCOMPARE(shownChoices(), shown);
        QCOMPARE(readFile(settingsPath()), settings);
    }

    // Each remembered choice is written back at its click; a missing settings file is never made.
    void clicksWriteChoices_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no settings file
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("chosenFolder");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray folders = "SourcePath=/a/\r\nSavePath=/b/\r\n";
        QTest::newRow("no file, none made")
            << QByteArray() << QStringList{"rBtn_xls", "cBox_SaveToQuondamPath"} << "" << QByteArray();
        const QList<QPair<const char*, const char*>> choices{
            {"rBtn_xls", "xlsxMode=n"},           {"rBtn_xlsx", "xlsxMode=y"},
            {"rBtn_Tabs", "vbaOpenFunFomatArg=1"}, {"rBtn_Semicolon", "vbaOpenFunFomatArg=2"},
            {"rBtn_Comma", "vbaOpenFunFomatArg=3"}, {"rBtn_Space", "vbaOpenFunFomatArg=4"},
            {"cBox_SaveToQuondamPath", "SaveToQuondamPath=y"}};
        for (const auto& choice : choices) {
            QTest::newRow(choice.first)
                << folders << QStringList{choice.first} << "" << folders + choice.second + "\r\n";
        }
        QTest::newRow("save next to source, then not")
            << folders << QStringList{"cBox_SaveToQuondamPath", "cBox_SaveToQuondamPath"} << ""
            << folders + "SaveToQuondamPath=n\r\n";
        QTest::newRow("options that are not remembered")
            << folders
            << QStringList{"cBox_ConsecutiveDelimiter", "cBox_SetTextFormat", "cBox_OtherLanguage", "cBox_UCS2"}
            << "" << folders;
        // The picked folder is stored as shown: with the system's separators, in its 8-bit encoding.
        const auto stored = [](const QString& folder) {
            return QDir::toNativeSeparators(folder).toLocal8Bit();
        };
        QTest::newRow("source folder, in place")
            << folders << QStringList{"pBtn_SourcePath"} << "/数据/c"
            << "SourcePath=" + stored(QStringLiteral("/数据/c/")) + "\r\nSavePath=/b/\r\n";
        QTest::newRow("output folder at the root") << folders << QStringList{"pBtn_SavePath"} << "/"
                                                   << "SourcePath=/a/\r\nSavePath=" + stored("//") + "\r\n";
        QTest::newRow("folder dialog cancelled")
            << folders << QStringList{"pBtn_SourcePath", "pBtn_SavePath"} << "" << folders;
    }
    void clicksWriteChoices()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, clicks);
        QFETCH(QString, chosenFolder);
        QFETCH(QByteArray, expected);
        if (!settings.isNull())
            writeFile(settingsPath(), settings);
        chosenFolder_ = chosenFolder;
        openWindow();
        for (const QString& name : clicks)
            click(qPrintable(name));
        QCOMPARE(readFile(settingsPath()), expected);
        if (!chosenFolder.isEmpty()) // the picked folder shows in its field, with a separator at the end
            QVERIFY(shownChoices().contains(native(chosenFolder + "/") + " |"));
    }

    // A missing or empty folder stops either button with one message, the source folder's first; the
    // folders of a batch that starts are remembered as typed (the output folder only where it is used).
    void folderChecks_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("source"); // "folder": an existing folder, typed without its separator
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("nextToSource");
        QTest::addColumn<QString>("message"); // empty: the batch starts

        const QString noSource = QStringLiteral("Message:|提取文件夹不存在!");
        const QString noOutput = QStringLiteral("Message:|保存文件夹不存在!");
        for (const char* button : {"pBtn_AutoTransform", "pBtn_Transform"}) {
            const QByteArray prefix = QByteArray(button) + ": ";
            QTest::newRow(prefix + "empty source") << button << "" << "folder" << false << noSource;
            QTest::newRow(prefix + "missing source") << button << "/none" << "folder" << false << noSource;
            QTest::newRow(prefix + "both missing") << button << "" << "" << false << noSource;
            QTest::newRow(prefix + "empty output") << button << "folder" << "" << false << noOutput;
            QTest::newRow(prefix + "missing output") << button << "folder" << "/none" << false << noOutput;
            QTest::newRow(prefix + "output unused") << button << "folder" << "/none" << true << "";
            QTest::newRow(prefix + "both folders") << button << "folder" << "folder" << false << "";
        }
    }
    void folderChecks()
    {
        QFETCH(QString, button);
        QFETCH(QString, source);
        QFETCH(QString, output);
        QFETCH(bool, nextToSource);
        QFETCH(QString, message);
        const QString folder = path(QStringLiteral("in"));
        QVERIFY(QDir().mkpath(folder));
        writeFile(settingsPath(), "xlsxMode=y\r\n");
        openWindow();
        type("lEdt_SourcePath", source == "folder" ? folder : source);
        type("lEdt_SavePath", output == "folder" ? folder : output);
        if (nextToSource)
            click("cBox_SaveToQuondamPath");
        const QByteArray settings = readFile(settingsPath());
        const QString notice = status();

        ModalBoxCloser closer;
        click(qPrintable(button));
        QCOMPARE(closer.seen, message.isEmpty() ? QStringList() : QStringList{message});
        if (message.isEmpty()) {
            QVERIFY(batchRunning());
            QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);
            QCOMPARE(status(), StatusTexts::summary(0));
            QByteArray remembered = settings + "SourcePath=" + native(folder).toLocal8Bit() + "\r\n";
            if (!nextToSource)
                remembered += "SavePath=" + native(folder).toLocal8Bit() + "\r\n";
            QCOMPARE(readFile(settingsPath()), remembered);
        } else {
            QVERIFY(child("pBtn_AutoTransform")->isEnabled() && child("pBtn_Transform")->isEnabled());
            QCOMPARE(status(), notice);
            QCOMPARE(readFile(settingsPath()), settings);
        }
    }

    // The status line follows the worker and both buttons stay locked until the batch ends. A second batch
    // gets a fresh worker: the first one's thread is gone before it starts, and the request reaches it alone.
    void automaticBatchEndToEnd()
    {
        const QString source = path(QStringLiteral("in")), output = path(QStringLiteral("out"));
        writeFile(source + "/a.csv", "name,amount\r\nalpha,1\r\n");
        writeFile(source + "/年度/b.csv", "name,amount\r\nbeta,2.5\r\n");
        QVERIFY(QDir().mkpath(output));
        openWindow();
        type("lEdt_SourcePath", source);
        type("lEdt_SavePath", output);

        gate_.acquire(gate_.available());
        click("pBtn_AutoTransform");
        QVERIFY(batchRunning());
        QCOMPARE(status(), QString());
        auto* progress = child<QProgressBar>("pgBar_Progress");
        QVERIFY(!progress->isVisible());
        int number = 0;
        for (const QString& file : {source + "/a.csv", source + "/年度/b.csv"}) {
            QTRY_COMPARE_WITH_TIMEOUT(status(), QDir::toNativeSeparators(file), kBatchTimeout);
            QVERIFY(batchRunning());
            ++number;
            QTRY_COMPARE(progress->text(), QStringLiteral("第%1/2个文件  打开").arg(number));
            QVERIFY(progress->isVisible());
            gate_.release();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);
        QCOMPARE(status(), StatusTexts::summary(2));
        QVERIFY(!progress->isVisible());
        QVERIFY(QFileInfo(output + "/年度/b.xlsx").size() > 0);

        gate_.release(1000);
        click("cBox_SaveToQuondamPath");
        click("pBtn_AutoTransform");
        QVERIFY(batchRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);
        QCOMPARE(status(), StatusTexts::summary(2));
        QVERIFY(QFileInfo(source + "/年度/b.xlsx").size() > 0);
        QCOMPARE(earlierThreadsGone_, (QList<bool>{true, true}));
    }

    // Closing the window in the middle of a large file ends the batch there: the window's end waits only
    // for the row block in hand, and leaves neither the file's workbook nor its temporary file.
    void closingDuringABatchStopsIt()
    {
        const QString source = path(QStringLiteral("in")), output = path(QStringLiteral("out"));
        writeFile(source + "/large.csv", largeCsv(300000));
        QVERIFY(QDir().mkpath(output));
        openWindow();
        type("lEdt_SourcePath", source);
        type("lEdt_SavePath", output);
        click("pBtn_AutoTransform");
        QVERIFY2(waitForTemporaryFile(output, [&] { return QFile::exists(output + "/large.xlsx"); }),
                 "the file's save completed before the window could be closed");
        window_.reset(); // what the end of the event loop does after the window closed
        QCOMPARE(QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // The automatic conversion names what it could not convert: in the list file, with reasons, opened for
    // the user, and in the red line's last text.
    void automaticFailuresAreListed()
    {
        const QString source = path(QStringLiteral("in")), output = path(QStringLiteral("out"));
        writeFile(source + "/a.csv", "name\r\nalpha\r\n");
        writeFile(source + "/long.csv", "name\r\n" + QByteArray(40000, 'x') + "\r\n");
        writeFile(source + "/twice/data.csv", "name\r\nbeta\r\n");
#ifdef _WIN32
        // Letter case does not tell file names apart here: the second failure is another field too long.
        const QString secondFailure = native(source + "/twice/long.csv");
        writeFile(secondFailure, "name\r\n" + QByteArray(40000, 'y') + "\r\n");
#else
        const QString secondFailure = native(source + "/twice/data.");
        writeFile(source + "/twice/data.CSV", "name\r\ngamma\r\n");
#endif
        QVERIFY(QDir().mkpath(output));
        QStringList opened;
        platform::setTextFileOpener([&opened](const QString& file) { opened << file; });
        openWindow();
        type("lEdt_SourcePath", source);
        type("lEdt_SavePath", output);
        click("pBtn_AutoTransform");
        QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);
        platform::setTextFileOpener([](const QString&) {});

        const QString failList = source + QStringLiteral("/无法转换的文件目录.txt");
        QCOMPARE(opened, QStringList{native(failList)});
        QCOMPARE(status(), StatusTexts::summary(2) + StatusTexts::notConverted(2, 0, true));
        const QStringList lines = QString::fromLocal8Bit(readFile(failList)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        // "path: reason"; of data.csv and data.CSV, the one that comes second has no workbook of its own.
        QCOMPARE(lines[0].section(": ", 0, 0), native(source + "/long.csv"));
        QVERIFY(lines[1].section(": ", 0, 0).startsWith(secondFailure));
        for (const QString& line : lines)
            QVERIFY2(!line.section(": ", 1).isEmpty(), qPrintable(line));
    }

    // A file that stops the conversion by settings (gone once the batch has begun) is named in the window.
    void aStoppingFileIsNamed()
    {
        const QString source = path(QStringLiteral("in")), output = path(QStringLiteral("out"));
        writeFile(source + "/a.csv", "name\talpha\r\n");
        writeFile(source + "/b.csv", "name\tbeta\r\n");
        QVERIFY(QDir().mkpath(output));
        openWindow();
        type("lEdt_SourcePath", source);
        type("lEdt_SavePath", output);
        gate_.acquire(gate_.available());
        click("pBtn_Transform");
        QTRY_COMPARE_WITH_TIMEOUT(status(), native(source + "/a.csv"), kBatchTimeout);
        QVERIFY(QFile::remove(source + "/b.csv"));
        gate_.release(1000);
        QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);
        QCOMPARE(status(), StatusTexts::sourceCannotBeOpened() + StatusTexts::stoppedAt(native(source + "/b.csv")));
    }

    // A later start of the program asks this copy over its channel: while a batch runs, the copy keeps
    // running and shows its window (not for a quiet start); idle, it says so and starts no batch before
    // the later start ends it.
    void answersALaterStart_data()
    {
        QTest::addColumn<bool>("converting");
        QTest::addColumn<bool>("quietStart");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("shown");
        QTest::newRow("converting") << true << false << int(RunningCopyAnswer::Busy) << true;
        QTest::newRow("converting, quiet start") << true << true << int(RunningCopyAnswer::Busy) << false;
        QTest::newRow("idle") << false << false << int(RunningCopyAnswer::Idle) << false;
    }
    void answersALaterStart()
    {
        QFETCH(bool, converting);
        QFETCH(bool, quietStart);
        QFETCH(int, answer);
        QFETCH(bool, shown);
        openWindow();
        RunningCopyChannel channel([this](bool quiet) { return window_->answerLaterStart(quiet); });
        const QString name = path(QStringLiteral("channel"));
        QVERIFY(channel.listen(name));
        if (converting)
            startHeldBatch(path(QStringLiteral("in")));
        window_->hide();

        // The later start blocks while it asks; this thread must answer meanwhile.
        std::atomic<int> answered{-1};
        std::thread later([&] { answered = int(AskRunningCopy(name, quietStart, 10000)); });
        QTRY_VERIFY_WITH_TIMEOUT(answered >= 0, 15000);
        later.join();
        QCOMPARE(answered.load(), answer);
        QCOMPARE(window_->isVisible(), shown);
        QVERIFY(batchRunning()); // converting, or locked until the later start ends this copy
        gate_.release(1000);
        if (converting) {
            QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);
            QCOMPARE(status(), StatusTexts::summary(1));
        }
        QCOMPARE(AskRunningCopy(path(QStringLiteral("nobody")), false, 2000), RunningCopyAnswer::None);
    }

    // An update that completes during a batch is announced, and the program restarted, only at its end.
    void updateWaitsForTheBatch()
    {
        const QString source = path(QStringLiteral("in"));
        openWindow(); // its program path names no file: the restart starts nothing
        startHeldBatch(source);

        ModalBoxCloser closer;
        QVERIFY(QMetaObject::invokeMethod(window_.get(), "on_Signal_UpdateSuccess"));
        QCoreApplication::processEvents();
        QVERIFY(batchRunning());
        QCOMPARE(closer.seen, QStringList());
        gate_.release(1000);
        QTRY_COMPARE_WITH_TIMEOUT(closer.seen, QStringList{QStringLiteral("注意：|成功升级新版本!")}, kBatchTimeout);
        QCOMPARE(status(), StatusTexts::summary(1));
        QVERIFY(QFileInfo(source + "/a.xlsx").size() > 0);
    }

    // The progress bar's text and share of the stage in hand.
    void progressText_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("permille");
        QTest::addColumn<QString>("text");
        QTest::newRow("reading") << "reading" << qint64(1234567) << qint64(0) << 0 << "第3/200个文件  读取 1,234,567 行";
        QTest::newRow("preparing") << "preparing" << qint64(1) << qint64(3) << 333 << "第3/200个文件  准备写入 33%";
        QTest::newRow("writing") << "writing" << qint64(999999) << qint64(1000000) << 999 << "第3/200个文件  写入 99%";
        QTest::newRow("more than all") << "writing" << qint64(7) << qint64(5) << 1000 << "第3/200个文件  写入 100%";
    }
    void progressText()
    {
        QFETCH(QString, stage);
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(int, permille);
        QFETCH(QString, text);
        const ProgressDisplay display = progressDisplay(3, 200, stage, done, total);
        QCOMPARE(display.text, text);
        QCOMPARE(display.permille, permille);
    }

    // One local folder dropped onto the window fills the source field; a file or two folders are refused.
    void droppedFolderBecomesTheSource()
    {
        writeFile(path("in/a.csv"), "name\r\nalpha\r\n");
        openWindow();
        for (const QStringList& dropped : {QStringList{"in/a.csv"}, QStringList{"in", "in"}, QStringList{"in"}}) {
            QMimeData data;
            QList<QUrl> urls;
            for (const QString& entry : dropped)
                urls << QUrl::fromLocalFile(path(entry));
            data.setUrls(urls);
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window_.get(), &enter);
            QCOMPARE(enter.isAccepted(), dropped == QStringList{"in"});
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window_.get(), &drop);
        }
        QCOMPARE(child<QLineEdit>("lEdt_SourcePath")->text(), native(path("in") + "/"));
    }

    // Qt's own buttons and dialogs speak Chinese, as the window does.
    void qtTextsInChinese()
    {
        const std::unique_ptr<QTranslator> translation = InstallQtChineseTranslation();
        QVERIFY(translation);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    }

    // The conversion by settings takes every option from the window and removes an old failure list,
    // which the automatic conversion leaves alone.
    void requestBySettingsFillsTheOptions()
    {
        const QString source = path(QStringLiteral("in")); // no .csv files: the batch has nothing to do
        const QString failList = source + QStringLiteral("/无法转换的文件目录.txt");
        writeFile(failList, "left by an earlier batch\r\n");
        writeFile(settingsPath(), "xlsxMode=n\r\nvbaOpenFunFomatArg=4\r\nSaveToQuondamPath=y\r\n");
        openWindow();
        type("lEdt_SourcePath", source);
        for (const char* box :
             {"cBox_ConsecutiveDelimiter", "cBox_OtherLanguage", "cBox_UCS2", "cBox_SetTextFormat"})
            click(box);
        type("lEdt_SetTextFormat", QStringLiteral("2,3,4"));

        click("pBtn_AutoTransform");
        QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);
        QVERIFY(!QFile::exists(failList)); // the automatic conversion lists its failures there too

        writeFile(failList, "left by an earlier batch\r\n");
        const ConversionOptions& options = g_ConversionOptions;
        click("pBtn_Transform");
        QVERIFY(batchRunning());
        QVERIFY(!QFile::exists(failList));
        QCOMPARE(options.FailListPath, native(failList));
        QVERIFY(options.SaveToQuondamPath && !options.xlsxMode && options.vbaOpenFunFomatArg == 4);
        QVERIFY(options.ConsecutiveDelimiter && options.OtherLanguage && options.UCS2 && !options.UTF8BOM);
        QVERIFY(options.SetTextFormat);
        QCOMPARE(options.TextFormatColumns, QStringLiteral("2,3,4"));
        QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);

        // The columns count only while their box is checked, and the two encodings exclude each other.
        click("cBox_SetTextFormat");
        click("cBox_UTF8BOM");
        QVERIFY(!child("lEdt_SetTextFormat")->isEnabled() && !child<QCheckBox>("cBox_UCS2")->isChecked());
        click("pBtn_Transform");
        QVERIFY(!options.SetTextFormat && options.TextFormatColumns.isEmpty());
        QVERIFY(!options.UCS2 && options.UTF8BOM);
        QTRY_VERIFY_WITH_TIMEOUT(!batchRunning(), kBatchTimeout);
        QCOMPARE(status(), StatusTexts::summary(0));
    }

    // A click, a double click or the menu's first entry shows the window at its normal size; a middle
    // click does nothing.
    void trayBringsTheWindowBack_data()
    {
        QTest::addColumn<int>("reason"); // -1: the menu's first entry
        QTest::addColumn<QString>("windowLeft");
        QTest::addColumn<bool>("shown");
        QTest::newRow("click, hidden") << int(QSystemTrayIcon::Trigger) << "hidden" << true;
        QTest::newRow("double click, minimised") << int(QSystemTrayIcon::DoubleClick) << "minimised" << true;
        QTest::newRow("menu entry, resized") << -1 << "resized" << true;
        QTest::newRow("middle click, hidden") << int(QSystemTrayIcon::MiddleClick) << "hidden" << false;
    }
    void trayBringsTheWindowBack()
    {
        QFETCH(int, reason);
        QFETCH(QString, windowLeft);
        QFETCH(bool, shown);
        openWindow();
        SystemTray* tray = window_->trayIcon();
        QVERIFY(tray->isVisible());
        const QList<QAction*> entries = tray->contextMenu()->actions();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->text() + "," + entries[1]->text(), QStringLiteral("软件设置,退出程序"));
        if (windowLeft == "hidden")
            window_->hide();
        else if (windowLeft == "minimised")
            window_->showMinimized();
        else
            window_->resize(1300, 700);

        if (reason < 0)
            entries[0]->trigger();
        else
            emit tray->activated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(window_->isVisible(), shown);
        if (shown) {
            QVERIFY(!window_->isMinimized() && !window_->isMaximized());
            QCOMPARE(window_->size(), normalSize());
        }
    }

    // The tray menu's second entry and closing the window both end the event loop normally.
    void endsTheProgram_data()
    {
        QTest::addColumn<bool>("fromTheMenu");
        QTest::newRow("quit entry of the tray menu") << true;
        QTest::newRow("closing the window") << false;
    }
    void endsTheProgram()
    {
        QFETCH(bool, fromTheMenu);
        openWindow();
        if (fromTheMenu)
            QTimer::singleShot(0, window_->trayIcon()->contextMenu()->actions().value(1), &QAction::trigger);
        else
            QTimer::singleShot(0, window_.get(), &QWidget::close);
        QTimer failSafe; // fail rather than hang
        connect(&failSafe, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        failSafe.start(10000);
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    // The usage notes: one box of four numbered notes.
    void usageNotes()
    {
        openWindow();
        ModalBoxCloser closer;
        click("pBtn_MustRead");
        QCOMPARE(closer.seen.size(), 1);
        QVERIFY(closer.seen[0].startsWith(
            QStringLiteral("注意|<p style='font-size:16px;line-height:20px;'>1. 本软件")));
        QVERIFY(closer.seen[0].endsWith(QStringLiteral("</p>")));
        const QStringList notes = closer.seen[0].split(QStringLiteral("<br><br>"));
        QCOMPARE(notes.size(), 4);
        for (int i = 1; i < notes.size(); ++i)
            QVERIFY2(notes[i].startsWith(QString::number(i + 1) + QStringLiteral(". ")), qPrintable(notes[i]));
    }

    // Only a first argument of exactly "-autorun" starts quietly, and only where a tray icon can bring
    // the window back.
    void quietStart_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("trayAvailable");
        QTest::addColumn<bool>("shown");
        QTest::newRow("no argument") << QByteArrayList() << true << true;
        QTest::newRow("-autorun") << QByteArrayList{"-autorun"} << true << false;
        QTest::newRow("-autorun without a notification area") << QByteArrayList{"-autorun"} << false << true;
        QTest::newRow("capitals") << QByteArrayList{"-AUTORUN"} << true << true;
        QTest::newRow("slash") << QByteArrayList{"/autorun"} << true << true;
        QTest::newRow("further characters") << QByteArrayList{"-autorun2"} << true << true;
        QTest::newRow("second argument") << QByteArrayList{"/data", "-autorun"} << true << true;
    }
    void quietStart()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(bool, trayAvailable);
        QFETCH(bool, shown);
        openWindow(arguments);
        QCOMPARE(ShowsWindowAtStart(g_AppPaths.firstArgument, trayAvailable), shown);
#ifdef _WIN32
        // Windows always has a notification area: only a quiet start leaves the window hidden.
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        QCOMPARE(window_->isVisible(), trayAvailable ? shown : arguments.value(0) != "-autorun");
        QVERIFY(window_->trayIcon()->isVisible());
#else
        // This desktop has no notification area: the window shows whatever the arguments, the icon too.
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(window_->isVisible() && window_->trayIcon()->isVisible());
#endif
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
