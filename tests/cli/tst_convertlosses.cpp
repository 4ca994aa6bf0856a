// quillmark-convert loses nothing without a word: names the file system cannot decode, two sources for one
// workbook, unreadable folders, what is no file or too large a file, long names, a save killed half way,
// and a batch stopped by a signal.

#include "convert/StatusTexts.h"
#include "platform/FileNameEncoding.h"
#include "tests/TestFiles.h"
#include "tests/cli/ConverterRuns.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

class TestConvertLosses : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { platform::useLosslessFileNames(); }
    void init();
    void convertsNamesTheFileSystemCannotDecode();
    void reportsSourcesSharingAWorkbookName_data();
    void reportsSourcesSharingAWorkbookName();
    void reportsUnreadableFolders_data();
    void reportsUnreadableFolders();
    void namesWhatItCannotConvert_data();
    void namesWhatItCannotConvert();
    void savesNamesUpToTheFileSystemLimit();
    void nextSaveRemovesWhatAKilledSaveLeft();
    void stopsOnTerminationSignals_data();
    void stopsOnTerminationSignals();

private:
    QScopedPointer<QTemporaryDir> temporary_;
    QString source_, output_;
};

void TestConvertLosses::init()
{
    temporary_.reset(new QTemporaryDir);
    QVERIFY(temporary_->isValid());
    source_ = temporary_->path() + QStringLiteral("/source");
    output_ = temporary_->path() + QStringLiteral("/output");
    QVERIFY(QDir().mkpath(source_));
}


// A .csv file whose name holds GBK bytes on a UTF-8 file system is converted under the same bytes.
void TestConvertLosses::convertsNamesTheFileSystemCannotDecode()
{
#ifdef _WIN32
    QSKIP("file names are UTF-16 on Windows: there is no name the system cannot decode");
#endif
    const QByteArray gbkName = "\xCA\xFD\xBE\xDD"; // 数据 in GBK
    writeFile(source_ + '/' + QFile::decodeName(gbkName) + QStringLiteral(".csv"), kSmallCsv);
    QVERIFY(QFileInfo::exists(QFile::decodeName(QFile::encodeName(source_) + '/' + gbkName + ".csv")));

    const Result result = runConverter({source_, QStringLiteral("--out"), output_});

    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.contains(QFile::encodeName(source_) + '/' + gbkName + ".csv\n"), result.out.constData());
    const QString workbook = QFile::decodeName(QFile::encodeName(output_) + '/' + gbkName + ".xlsx");
    const QString problems = roundTripProblems(source_ + '/' + QFile::decodeName(gbkName) + ".csv", workbook);
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestConvertLosses::reportsSourcesSharingAWorkbookName_data()
{
    QTest::addColumn<bool>("bySettings");
    QTest::newRow("automatic") << false;
    QTest::newRow("by settings") << true;
}

// data.csv and data.CSV make one workbook name: the later one is named, not written over the first.
void TestConvertLosses::reportsSourcesSharingAWorkbookName()
{
    QFETCH(bool, bySettings);
#ifdef _WIN32
    QSKIP("names that differ only in letter case name one file on Windows");
#endif
    writeFile(source_ + QStringLiteral("/data.csv"), "lower\r\n");
    writeFile(source_ + QStringLiteral("/data.CSV"), "upper\r\n");
    QStringList arguments{source_, QStringLiteral("--out"), output_};
    if (bySettings)
        arguments << QStringLiteral("--by-settings");

    const Result result = runConverter(arguments);

    QCOMPARE(result.exitCode, 1);
    const QStringList lines = QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 5);
    const QString first = lines[3], later = lines[4]; // the two sources, in list order
    QVERIFY2(QString::fromUtf8(result.err).contains(QStringLiteral("not converted: ") + later), result.err.constData());
    QVERIFY(!result.err.contains(("not converted: " + first).toUtf8()));
    QCOMPARE(lines.last(), StatusTexts::summary(1));
    const QString problems = roundTripProblems(first, output_ + QStringLiteral("/data.xlsx"));
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    if (bySettings)
        QCOMPARE(QString::fromUtf8(readFile(source_ + QStringLiteral("/无法转换的文件目录.txt"))), later + '\n');
}

void TestConvertLosses::reportsUnreadableFolders_data()
{
    reportsSourcesSharingAWorkbookName_data();
}

// A subfolder that cannot be read is named, and the batch does not count as complete.
void TestConvertLosses::reportsUnreadableFolders()
{
    QFETCH(bool, bySettings);
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    writeFile(source_ + QStringLiteral("/locked/b.csv"), kSmallCsv);
    QVERIFY(QDir().mkpath(output_));
#ifdef _WIN32
    QSKIP("a folder is made unreadable through its access list on Windows, which Wine does not enforce");
#else
    // Permissions do not bind root: the converter then runs as an ordinary user.
    QString user;
    if (geteuid() == 0) {
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("running as root without setpriv: no way to make a folder unreadable");
        user = QStringLiteral("65534"); // nobody
        for (const QString& path : {temporary_->path(), source_, source_ + "/a.csv", source_ + "/locked",
                                    source_ + "/locked/b.csv", output_})
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions(0x7777)));
    }
    QVERIFY(QFile::setPermissions(source_ + QStringLiteral("/locked"), QFileDevice::Permissions()));

    QStringList arguments{source_, QStringLiteral("--out"), output_};
    if (bySettings)
        arguments << QStringLiteral("--by-settings");

    const Result result = runConverter(arguments, user);

    QFile::setPermissions(source_ + QStringLiteral("/locked"), QFileDevice::Permissions(0x7700));
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("cannot read the folder " + QFile::encodeName(source_) + "/locked\n"),
             result.err.constData());
    QCOMPARE(filesEndingWith(output_, QStringLiteral(".xlsx")), QStringList{"a.xlsx"});
    if (bySettings)
        QCOMPARE(readFile(source_ + QStringLiteral("/无法转换的文件目录.txt")), QFile::encodeName(source_) + "/locked\n");
#endif
}

void TestConvertLosses::namesWhatItCannotConvert_data()
{
    reportsSourcesSharingAWorkbookName_data();
}

// A named pipe, a link to a device and a file far larger than this computer's memory (sparse: nothing of
// it is allocated) are named with their reasons; the batch neither blocks on them nor ends.
void TestConvertLosses::namesWhatItCannotConvert()
{
    QFETCH(bool, bySettings);
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
#ifndef _WIN32 // Windows folders hold neither named pipes nor devices
    QVERIFY(mkfifo(QFile::encodeName(source_ + QStringLiteral("/pipe.csv")).constData(), 0600) == 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), source_ + QStringLiteral("/zero.csv")));
#endif
    QFile huge(source_ + QStringLiteral("/huge.csv"));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(1LL << 40));
    huge.close();
    QStringList arguments{source_, QStringLiteral("--out"), output_};
    if (bySettings)
        arguments << QStringLiteral("--by-settings");

    const Result result = runConverter(arguments);

    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.contains(StatusTexts::summary(1).toUtf8()));
    const QString err = QString::fromUtf8(result.err);
    const QString reasons[][2] = {
#ifndef _WIN32
                                  {"pipe.csv", "is a named pipe (FIFO), not a file"},
                                  {"zero.csv", "is a device, not a file"},
#endif
                                  {"huge.csv", bySettings
                                                   ? "is larger than the conversion by settings can take"
                                                   : "is too large for this computer's memory"}};
    for (const auto& [name, reason] : reasons) {
        const QString path = QDir::toNativeSeparators(source_ + '/' + name);
        QVERIFY2(err.contains(QStringLiteral("not converted: ") + path + QStringLiteral(": ") + path + ' ' +
                              reason),
                 qPrintable(err));
    }
    QCOMPARE(filesEndingWith(output_, QStringLiteral(".xlsx")), QStringList{"a.xlsx"});
}

// The save's temporary sibling never makes a name the file system takes too long for it.
void TestConvertLosses::savesNamesUpToTheFileSystemLimit()
{
    const QString ascii(250 - 4, QLatin1Char('n'));
    const QString chinese(82, QChar(0x957F)); // 246 bytes in UTF-8
    writeFile(source_ + '/' + ascii + QStringLiteral(".csv"), kSmallCsv);
    writeFile(source_ + '/' + chinese + QStringLiteral(".csv"), kSmallCsv);

    const Result result = runConverter({source_, QStringLiteral("--out"), output_});

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(filesEndingWith(output_, QString()), (QStringList{ascii + ".xlsx", chinese + ".xlsx"}));
}

// A save killed half way leaves its hidden temporary file; the next save of that workbook removes it.
void TestConvertLosses::nextSaveRemovesWhatAKilledSaveLeft()
{
    QByteArray big;
    for (int row = 0; row < 400000; ++row)
        big += QByteArray::number(row) + ",text " + QByteArray::number(row * 7) + ",2021-03-04,00123\n";
    writeFile(source_ + QStringLiteral("/big.csv"), big);
    writeFile(output_ + QStringLiteral("/.other.xlsx.0123456789ab~"), "a leftover of another workbook");

    QProcess process;
    process.start(QStringLiteral(QUILLMARK_CONVERT_PROGRAM), {source_, QStringLiteral("--out"), output_});
    QVERIFY(process.waitForStarted());
    const QRegularExpression temporaryName(QStringLiteral("^\\.big\\.xlsx\\.[0-9a-f]{12}~$"));
    QStringList leftovers;
    for (int wait = 0; wait < 20000 && leftovers.isEmpty() && process.state() == QProcess::Running; ++wait) {
        leftovers = QDir(output_).entryList(QDir::Files | QDir::Hidden).filter(temporaryName);
        QThread::usleep(500);
    }
    QVERIFY2(!leftovers.isEmpty(), "the save finished before it could be killed");
    process.kill(); // at once, as a power cut would
    QVERIFY(process.waitForFinished(kTimeout));
    QVERIFY(!QFileInfo::exists(output_ + QStringLiteral("/big.xlsx")));
    QVERIFY(!QDir(output_).entryList(QDir::Files | QDir::Hidden).filter(temporaryName).isEmpty());

    const Result result = runConverter({source_, QStringLiteral("--out"), output_});

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(QDir(output_).entryList(QDir::Files | QDir::Hidden),
             (QStringList{".other.xlsx.0123456789ab~", "big.xlsx"}));
}

void TestConvertLosses::stopsOnTerminationSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("Ctrl+C") << int(SIGINT) << 130;
    QTest::newRow("termination signal") << int(SIGTERM) << 143;
}

// Ctrl+C or a termination signal in the middle of a file of a million rows: the workbook written before
// stays, the file in hand leaves no temporary file and no workbook, and the exit status names the signal.
void TestConvertLosses::stopsOnTerminationSignals()
{
    QFETCH(int, signal);
    QFETCH(int, exitCode);
#ifdef _WIN32
    QSKIP("a console control event reaches only the processes of the sender's own console");
#endif
    writeFile(source_ + QStringLiteral("/a.csv"), kSmallCsv);
    writeFile(source_ + QStringLiteral("/b.csv"), largeCsv(1000000));
    QProcess process;
    process.start(QStringLiteral(QUILLMARK_CONVERT_PROGRAM), {source_, QStringLiteral("--out"), output_});
    QVERIFY(process.waitForStarted(kTimeout));
    const QString large = output_ + QStringLiteral("/b.xlsx");
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(output_ + QStringLiteral("/a.xlsx")); }, kTimeout));
    QVERIFY2(waitForTemporaryFile(output_, [&] { return QFile::exists(large); }),
             "the large file's save completed before it could be stopped");
#ifndef _WIN32
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal), 0);
#endif
    QVERIFY(process.waitForFinished(kTimeout));

    QCOMPARE(process.exitStatus(), QProcess::NormalExit); // it ended itself, cleanly
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(filesEndingWith(output_, QString()), QStringList{QStringLiteral("a.xlsx")});
    QCOMPARE(roundTripProblems(source_ + QStringLiteral("/a.csv"), output_ + QStringLiteral("/a.xlsx")), QString());
}

QTEST_GUILESS_MAIN(TestConvertLosses)
#include "tst_convertlosses.moc"
