// Start-up: the program's own paths from the command line, and finding and ending running copies of a
// program by its executable name.

#include "app/AppPaths.h"
#include "app/SingleInstance.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#ifndef _WIN32
#include <unistd.h>
#endif
#include <vector>

namespace {

// A field ends within its size with only zeros after its end: a copy that ran past a field would leave
// bytes behind in the next one.
template <std::size_t N>
bool cleanlyTerminated(const char (&field)[N])
{
    const std::size_t length = strnlen(field, N);
    return length < N && std::all_of(field + length, field + N, [](char c) { return c == '\0'; });
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir folder_;
    QByteArray sleeperName_;
    std::vector<std::unique_ptr<QProcess>> sleepers_;

private slots:
    // The program's folder, settings file and update archive beside it, and the first argument.
    void appPaths_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QByteArray>("programDir");
        QTest::addColumn<QByteArray>("firstArgument");
        QTest::newRow("full path and arguments")
            << QByteArrayList{"/opt/tools/Quillmark", "/data/in", "ignored"} << QByteArray("/opt/tools/")
            << QByteArray("/data/in");
        QTest::newRow("bare program name") << QByteArrayList{"Quillmark"} << QByteArray() << QByteArray();
        QTest::newRow("program in the root") << QByteArrayList{"/Quillmark"} << QByteArray("/") << QByteArray();
        QTest::newRow("first argument of 31 bytes kept")
            << QByteArrayList{"Quillmark", QByteArray(31, 'a')} << QByteArray() << QByteArray(31, 'a');
        QTest::newRow("no arguments at all") << QByteArrayList() << QByteArray() << QByteArray();
    }
    void appPaths()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QByteArray, programDir);
        QFETCH(QByteArray, firstArgument);
        std::vector<const char*> argv;
        for (const QByteArray& argument : arguments)
            argv.push_back(argument.constData());
        argv.push_back(nullptr);
        AppPaths paths;
        std::memset(paths.programDir, 'x', sizeof paths.programDir); // leftovers of an earlier fill must go
        FillAppPaths(paths, static_cast<int>(arguments.size()), argv.data());
        QCOMPARE(QByteArray(paths.programPath), arguments.value(0));
        QCOMPARE(QByteArray(paths.programDir), programDir);
        QCOMPARE(QByteArray(paths.settingsPath), programDir + "Quillmark.qmk");
        QCOMPARE(QByteArray(paths.updateArchivePath), programDir + "Quillmark.zip");
        QCOMPARE(QByteArray(paths.firstArgument), firstArgument);
    }

    // A 2000-byte program path and a 500-byte argument: every field is cut inside its own size, the file
    // names added to a folder that nearly fills its field too.
    void appPathsCutLongTexts()
    {
        const QByteArray program = "/" + QByteArray(1015, 'd') + "/" + QByteArray(973, 'e') + "/Quillmark";
        const QByteArray argument(500, 'a');
        const char* argv[] = {program.constData(), argument.constData(), nullptr};
        struct
        {
            AppPaths paths;
            char after[256];
        } guarded;
        std::memset(guarded.after, 0x5A, sizeof guarded.after);
        FillAppPaths(guarded.paths, 2, argv);

        const AppPaths& paths = guarded.paths;
        QVERIFY(cleanlyTerminated(paths.firstArgument) && cleanlyTerminated(paths.programPath));
        QVERIFY(cleanlyTerminated(paths.programDir) && cleanlyTerminated(paths.settingsPath));
        QVERIFY(cleanlyTerminated(paths.updateArchivePath));
        QVERIFY(std::all_of(std::begin(guarded.after), std::end(guarded.after), [](char c) { return c == 0x5A; }));
        QCOMPARE(QByteArray(paths.firstArgument), argument.left(31));
        QCOMPARE(QByteArray(paths.programPath), program.left(sizeof paths.programPath - 1));
        QCOMPARE(QByteArray(paths.programDir), program.left(1017));
        QCOMPARE(QByteArray(paths.settingsPath), program.left(1017) + "Quillm");
    }

    void initTestCase()
    {
        // Three copies of a program that waits, under a name no other process has, so only they match it.
        // They wait long enough for the tests, and not for long should the test die before its clean-up.
        // Windows has no sleep: its ping waits a second between its 121 echoes of this computer.
        QVERIFY(folder_.isValid());
        sleeperName_ = "QmkSleeper" + QByteArray::number(QCoreApplication::applicationPid());
#ifdef _WIN32
        sleeperName_ += ".exe"; // the process list names a Windows process with its extension
        const QString waiting = qEnvironmentVariable("SystemRoot") + QStringLiteral("/System32/ping.exe");
        const QStringList waitingArguments{QStringLiteral("-n"), QStringLiteral("121"),
                                           QStringLiteral("127.0.0.1")};
#else
        const QString waiting = QStringLiteral("/bin/sleep");
        const QStringList waitingArguments{QStringLiteral("120")};
#endif
        const QString program = folder_.path() + QLatin1Char('/') + QString::fromLatin1(sleeperName_);
        QVERIFY(QFile::copy(waiting, program));
        for (int i = 0; i < 3; ++i) {
            sleepers_.push_back(std::make_unique<QProcess>());
            sleepers_.back()->start(program, waitingArguments);
            QVERIFY(sleepers_.back()->waitForStarted(10000));
        }
    }
    void cleanupTestCase()
    {
        for (const auto& sleeper : sleepers_) {
            sleeper->kill();
            sleeper->waitForFinished(10000);
        }
    }

    // Processes count by their executable's file name, byte for byte.
    void countsProcessesByExactName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("expected");
        QTest::newRow("exact name") << sleeperName_ << 3;
        QTest::newRow("name in lower case") << sleeperName_.toLower() << 0;
        QTest::newRow("longer name") << sleeperName_ + ".exe" << 0;
        QTest::newRow("shorter name") << sleeperName_.left(sleeperName_.size() - 1) << 0;
        QTest::newRow("with its folder") << QFile::encodeName(folder_.path()) + "/" + sleeperName_ << 0;
    }
    void countsProcessesByExactName()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, expected);
        QCOMPARE(CountProcessesByName(name.constData()), expected);
    }

    // The copy the single-instance rule ends, in lists whose order the system decides: never the starting
    // copy (self, 50), which may come first once process numbers wrap, and never a process of another user.
    void copyToTerminate_data()
    {
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("users");
        QTest::addColumn<int>("ended"); // -1: none
        const QString q = QStringLiteral("Quillmark");
        const QString me = QStringLiteral("1000");
        QTest::newRow("earlier copy first") << QList<int>{30, 50} << QStringList{q, q} << QStringList{me, me} << 30;
        QTest::newRow("starting copy first") << QList<int>{50, 30} << QStringList{q, q} << QStringList{me, me} << 30;
        QTest::newRow("only the starting copy") << QList<int>{50} << QStringList{q} << QStringList{me} << -1;
        QTest::newRow("three copies: one ends")
            << QList<int>{50, 70, 30} << QStringList{q, q, q} << QStringList{me, me, me} << 70;
        QTest::newRow("another user's copy only")
            << QList<int>{30, 50} << QStringList{q, q} << QStringList{"0", me} << -1;
        QTest::newRow("another user's copy before this user's")
            << QList<int>{20, 30, 50} << QStringList{q, q, q} << QStringList{"1001", me, me} << 30;
        QTest::newRow("copy whose user is unknown")
            << QList<int>{30, 50} << QStringList{q, q} << QStringList{QString(), me} << -1;
        QTest::newRow("starting copy under another name, one copy running")
            << QList<int>{30, 50} << QStringList{q, "convert"} << QStringList{me, me} << -1;
        QTest::newRow("starting copy under another name, two copies running")
            << QList<int>{50, 30, 40} << QStringList{"convert", q, q} << QStringList{me, me, me} << 30;
        QTest::newRow("name in another letter case")
            << QList<int>{30, 50} << QStringList{"quillmark", q} << QStringList{me, me} << -1;
    }
    void copyToTerminate()
    {
        QFETCH(QList<int>, ids);
        QFETCH(QStringList, names);
        QFETCH(QStringList, users);
        QFETCH(int, ended);
        std::vector<platform::ProcessEntry> processes;
        for (int i = 0; i < ids.size(); ++i)
            processes.push_back({ids[i], names[i].toStdString(), users[i].toStdString()});
        QCOMPARE(CopyToTerminate(processes, "Quillmark", 50, "1000"), long(ended));
    }

    // The process list names the user of each process: this process's and its children's are its own.
    void listsTheUserOfEachProcess()
    {
        std::vector<platform::ProcessEntry> processes;
        QVERIFY(platform::listProcesses(processes));
        QStringList users;
        for (const platform::ProcessEntry& process : processes) {
            if (process.executableName == sleeperName_.toStdString() || process.id == platform::currentProcessId())
                users << QString::fromStdString(process.user);
        }
#ifdef _WIN32
        const QString uid = QString::fromStdString(platform::currentUser()); // the account's security id
        QVERIFY(!uid.isEmpty());
#else
        const QString uid = QString::number(::getuid());
        QCOMPARE(QString::fromStdString(platform::currentUser()), uid);
#endif
        QCOMPARE(users, (QStringList{uid, uid, uid, uid})); // three sleepers and this process
    }

    // Asked to end a copy of itself while it is the only one, the starting process survives.
    void neverTerminatesItself()
    {
        const QByteArray self = QFile::encodeName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
        QCOMPARE(CountProcessesByName(self.constData()), 1);
        QCOMPARE(TerminateFirstProcessByName(self.constData()), 0);
    }

    // Exactly one process ends, the first of its name in the process list; no name or no match ends none.
    void terminatesTheFirstProcess()
    {
        QCOMPARE(CountProcessesByName(nullptr), 0);
        QCOMPARE(TerminateFirstProcessByName(nullptr), 0);
        QCOMPARE(TerminateFirstProcessByName(sleeperName_.toLower().constData()), 0);
        QCOMPARE(CountProcessesByName(sleeperName_.constData()), 3);

        // The list's order is the system's: by process number on Linux, not so on Windows.
        std::vector<platform::ProcessEntry> processes;
        QVERIFY(platform::listProcesses(processes));
        const auto listedFirst =
            std::find_if(processes.begin(), processes.end(), [this](const auto& process) {
                return process.executableName == sleeperName_.toStdString();
            });
        QVERIFY(listedFirst != processes.end());
        const auto first = std::find_if(sleepers_.begin(), sleepers_.end(), [&](const auto& sleeper) {
            return sleeper->processId() == listedFirst->id;
        });
        QVERIFY(first != sleepers_.end());
        QCOMPARE(TerminateFirstProcessByName(sleeperName_.constData()), 1);
        QVERIFY((*first)->waitForFinished(10000));
        for (const auto& sleeper : sleepers_) {
            if (sleeper != *first)
                QCOMPARE(sleeper->state(), QProcess::Running);
        }
        QTRY_COMPARE(CountProcessesByName(sleeperName_.constData()), 2);
    }

    // A copy that is converting survives a later start, which does not go on; an idle copy is ended as
    // before (so is one that does not answer: the same path).
    void keepsACopyThatIsConverting_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("goesOn");
        QTest::addColumn<int>("left"); // of the two sleepers left by terminatesTheFirstProcess
        QTest::newRow("busy") << int(RunningCopyAnswer::Busy) << false << 2;
        QTest::newRow("idle") << int(RunningCopyAnswer::Idle) << true << 1;
    }
    void keepsACopyThatIsConverting()
    {
        QFETCH(int, answer);
        QFETCH(bool, goesOn);
        QFETCH(int, left);
        QCOMPARE(KeepSingleInstance(RunningCopyAnswer(answer), sleeperName_.constData()), goesOn);
        QTRY_COMPARE(CountProcessesByName(sleeperName_.constData()), left);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
