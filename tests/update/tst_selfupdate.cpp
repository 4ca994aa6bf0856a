// The version check and self-update: reading the announced digest, naming the old copy, refusing archives
// that reach outside the program's folder, whole update runs against the release server on loopback, and
// the restart that follows an update.

#include "update/FileHelpers.h"
#include "update/ThreadPost.h"
#include "update/UpdateRestart.h"
#include "update/UpdateSteps.h"

#include "UpdateTestServers.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <memory>

using updatetest::deadPort;
using updatetest::ReleaseServerProcess;

namespace {

using Entries = QList<QPair<QString, QByteArray>>; // archive entries: name, content

const QByteArray kOldBuild = "old build";
const QByteArray kNewBuild = "new build";

bool writeArchive(const QString& path, const Entries& entries)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const auto& entry : entries) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, QuaZipNewInfo(entry.first)) ||
            file.write(entry.second) != entry.second.size())
            return false;
        file.close();
    }
    zip.close();
    return zip.getZipError() == 0;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The folder's files as "name=content", sorted; the archive by its name only.
QStringList filesIn(const QString& folder)
{
    QStringList files;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name)) {
        QFile file(info.filePath());
        file.open(QIODevice::ReadOnly);
        files << (info.fileName() == QLatin1String("Quillmark.zip")
                      ? info.fileName()
                      : info.fileName() + QLatin1Char('=') + QString::fromUtf8(file.readAll()));
    }
    return files;
}

UpdateServer loopbackServer(quint16 port)
{
    const std::string host = "127.0.0.1";
    return {host, port, "/version", "http://" + host + ':' + std::to_string(port) + '/'};
}

} // namespace

Q_DECLARE_METATYPE(UpdateOutcome)

class TestSelfUpdate : public QObject
{
    Q_OBJECT

    // A program folder holding the executable `startName` ("old build") and a leftover old copy, and a
    // release folder with `entries` as its archive (none when null).
    UpdateSetup prepare(const QTemporaryDir& root, const QString& startName, const Entries* entries) const
    {
        QDir(root.path()).mkdir(QStringLiteral("program"));
        QDir(root.path()).mkdir(QStringLiteral("release"));
        UpdateSetup setup;
        setup.programDir = QFile::encodeName(root.filePath(QStringLiteral("program"))).toStdString() + '/';
        setup.programPath = setup.programDir + QFile::encodeName(startName).toStdString();
        setup.archivePath = setup.programDir + "Quillmark.zip";
        setup.roundPauseMs = 10;
        setup.maxRounds = 2;
        setup.requestTimeoutMs = 2000;
        setup.downloadLimits = {2, 5, 10};
        writeFile(QFile::decodeName(setup.programPath.c_str()), kOldBuild);
        writeFile(QFile::decodeName(::oldCopyPath(setup.programPath).c_str()), "leftover");
        if (entries)
            writeArchive(root.filePath(QStringLiteral("release/Quillmark.zip")), *entries);
        return setup;
    }
    // Starts `worker` on `thread` as the window does: the thread's start runs the whole update.
    static void startOn(QThread& thread, ThreadPost* worker)
    {
        worker->moveToThread(&thread);
        connect(&thread, &QThread::started, worker, &ThreadPost::startPost);
        thread.start();
    }

  private slots:
    void initTestCase()
    {
        qputenv("no_proxy", "127.0.0.1"); // downloads from the loopback servers go straight to them
    }

    // The announced digest: a member's value without quotes and blanks; a longer value is refused, not cut.
    void getJsonValue_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QByteArray>("value");
        const QByteArray digest = "0123456789abcdef0123456789abcdef";
        QTest::newRow("member followed by another")
            << "{\"Quillmark\":\"" + digest + "\",\"note\":\"x\"}" << true << digest;
        QTest::newRow("last member") << "{\"a\":\"x\",\"Quillmark\" : \"" + digest + "\" }" << true << digest;
        QTest::newRow("blanks and a bare number")
            << QByteArray("{\"Quillmark\":\t 42 ,\"a\":1}") << true << QByteArray("42");
        QTest::newRow("missing member") << QByteArray("{\"Other\":\"abc\"}") << false << QByteArray();
        QTest::newRow("empty reply") << QByteArray() << false << QByteArray();
        QTest::newRow("value longer than a digest is refused")
            << "{\"Quillmark\":\"" + digest + "0\"}" << false << QByteArray();
    }
    void getJsonValue()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, found);
        QFETCH(QByteArray, value);
        QByteArray output(64, '#'); // room for a digest, then bytes that must stay untouched
        QCOMPARE(GetJsonValue(output.data(), 33, text.constData(), "Quillmark"), found);
        QCOMPARE(QByteArray(output.constData()), value);
        QCOMPARE(output.mid(33), QByteArray(31, '#'));
    }

    // The old copy never has the executable's own name.
    void oldCopyPath_data()
    {
        QTest::addColumn<QByteArray>("startPath");
        QTest::addColumn<QByteArray>("oldCopy");
        QTest::newRow("with .exe") << QByteArray("/opt/q/Qm.exe") << QByteArray("/opt/q/Qm_old");
        QTest::newRow("without extension") << QByteArray("/opt/q/Qm") << QByteArray("/opt/q/Qm_old");
        QTest::newRow(".exe only in a folder") << QByteArray("/a.exe/qm") << QByteArray("/a.exe/qm_old");
    }
    void oldCopyPath()
    {
        QFETCH(QByteArray, startPath);
        QFETCH(QByteArray, oldCopy);
        QCOMPARE(QByteArray::fromStdString(::oldCopyPath(startPath.toStdString())), oldCopy);
    }

    // Only relative names without a ".." component unpack inside the program's folder, on any system.
    void archiveEntryStaysInside_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("inside");
        QTest::newRow("executable") << QStringLiteral("Quillmark") << true;
        QTest::newRow("file in a folder") << QStringLiteral("docs/notes.txt") << true;
        QTest::newRow("parent folder further in") << QStringLiteral("docs/../../escape.txt") << false;
        QTest::newRow("Windows parent folder") << QStringLiteral("docs\\..\\..\\escape.txt") << false;
        QTest::newRow("absolute path") << QStringLiteral("/escape.txt") << false;
        QTest::newRow("drive letter") << QStringLiteral("C:escape.txt") << false;
    }
    void archiveEntryStaysInside()
    {
        QFETCH(QString, name);
        QFETCH(bool, inside);
        QCOMPARE(::archiveEntryStaysInside(name), inside);
    }

    // The servers' names lie under a reserved domain and never stand in the executable as plain text.
    void keepsItsServersEncipheredUnderAReservedName()
    {
        QFile self(QCoreApplication::applicationFilePath());
        QVERIFY(self.open(QIODevice::ReadOnly));
        const QByteArray executable = self.readAll();
        for (const UpdateServer& server : programUpdateServers()) {
            QVERIFY(QByteArray::fromStdString(server.host).endsWith(".invalid"));
            QCOMPARE(server.port, quint16(80));
            QCOMPARE(server.downloadPrefix, "http://" + server.host + "/");
            QVERIFY2(!executable.contains(QByteArray::fromStdString(server.host)), server.host.c_str());
        }
    }

    // Whole update runs against the release server on loopback: what the program folder holds afterwards,
    // and the signals sent: the success only when the executable was replaced, the balloon only when the
    // download failed.
    void updates_data()
    {
        QTest::addColumn<QString>("startName");
        QTest::addColumn<Entries>("entries");     // of the release archive; none when empty
        QTest::addColumn<bool>("primaryAnswers"); // else only the backup server does
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QStringList>("programFolder"); // afterwards

        const QString exe = QStringLiteral("Quillmark");
        const Entries release{{exe, kNewBuild}, {QStringLiteral("notes.txt"), "notes"}};
        const QStringList updated{"Quillmark=new build", "Quillmark_old=old build", "notes.txt=notes"};
        const QStringList untouched{"Quillmark=old build", "Quillmark_old=leftover"};
        using O = UpdateOutcome;
        QTest::newRow("announced digest is this executable's")
            << exe << Entries{{exe, kOldBuild}} << true << O::UpToDate << untouched;
        QTest::newRow("newer release") << exe << release << true << O::Updated << updated;
        QTest::newRow("only the backup server answers") << exe << release << false << O::Updated << updated;
        QTest::newRow("started under another name")
            << QStringLiteral("convert") << release << true << O::Updated
            << QStringList{"convert=new build", "convert_old=old build", "notes.txt=notes"};
        // The server has no digest to announce; the client downloads all the same.
        QTest::newRow("archive without the executable")
            << exe << Entries{{QStringLiteral("notes.txt"), "notes"}} << true << O::NotReplaced
            << QStringList{"Quillmark=old build", "Quillmark.zip", "notes.txt=notes"};
        QTest::newRow("entry in the parent folder")
            << exe << Entries{{exe, kNewBuild}, {QStringLiteral("../escape.txt"), "x"}} << true
            << O::ArchiveRefused << untouched;
        QTest::newRow("entry with an absolute path")
            << exe << Entries{{QStringLiteral("/escape.txt"), "x"}, {exe, kNewBuild}} << true << O::ArchiveRefused
            << untouched;
        QTest::newRow("download fails") << exe << Entries{} << true << O::DownloadFailed << untouched;
    }
    void updates()
    {
        QFETCH(QString, startName);
        QFETCH(Entries, entries);
        QFETCH(bool, primaryAnswers);
        QFETCH(UpdateOutcome, outcome);
        QFETCH(QStringList, programFolder);
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, startName, entries.isEmpty() ? nullptr : &entries);
        ReleaseServerProcess server(root.filePath(QStringLiteral("release")));
        QVERIFY(server.port() != 0);
        setup.servers = {loopbackServer(primaryAnswers ? server.port() : deadPort()),
                         loopbackServer(primaryAnswers ? deadPort() : server.port())};

        ThreadPost worker(setup);
        QSignalSpy success(&worker, &ThreadPost::Signal_UpdateSuccess);
        QSignalSpy messages(&worker, &ThreadPost::Signal_ShowMessage);
        QCOMPARE(worker.runUpdate(), outcome);
        QCOMPARE(filesIn(root.filePath(QStringLiteral("program"))), programFolder);
        QCOMPARE(filesIn(root.path()), QStringList()); // nothing written beside the program's folder
        QVERIFY(!QFile::exists(QStringLiteral("/escape.txt")));
        QCOMPARE(success.count(), outcome == UpdateOutcome::Updated ? 1 : 0);
        QCOMPARE(messages.count(), outcome == UpdateOutcome::DownloadFailed ? 1 : 0);
        if (!messages.isEmpty())
            QCOMPARE(messages.first(), (QVariantList{QString(), updateBalloonText()}));
        if (outcome == UpdateOutcome::Updated) // an archive made elsewhere may carry no permissions at all
            QVERIFY(QFileInfo(QFile::decodeName(setup.programPath.c_str())).permissions() & QFile::ExeOwner);
    }

    // As in the program, only stop() ends the search for a server; nothing is touched meanwhile.
    void keepsTryingWhileNoServerAnswers()
    {
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, QStringLiteral("Quillmark"), nullptr);
        setup.servers = {loopbackServer(deadPort()), loopbackServer(deadPort())};
        setup.roundPauseMs = 100;
        setup.maxRounds = 0;

        QThread thread;
        auto worker = std::make_unique<ThreadPost>(setup);
        QSignalSpy success(worker.get(), &ThreadPost::Signal_UpdateSuccess);
        QSignalSpy messages(worker.get(), &ThreadPost::Signal_ShowMessage);
        std::atomic<bool> returned{false};
        // Queued behind started(): runs on the worker's thread once startPost() has returned.
        QMetaObject::invokeMethod(worker.get(), [&returned] { returned = true; }, Qt::QueuedConnection);
        startOn(thread, worker.get());
        QTest::qWait(800); // several rounds
        QVERIFY(!returned);
        worker->stop();
        QTRY_VERIFY_WITH_TIMEOUT(returned, 5000);
        thread.quit();
        QVERIFY(thread.wait(5000));
        QCOMPARE(success.count() + messages.count(), 0);
        QCOMPARE(filesIn(root.filePath(QStringLiteral("program"))),
                 (QStringList{"Quillmark=old build", "Quillmark_old=leftover"}));
    }

    // The whole way: the update runs on its own thread, its success reaches this thread as a queued signal,
    // and the restart starts the unpacked executable (the stand-in) with an empty command line while the
    // event loop ends. A quiet start ("-autorun" exactly) does not restart.
    void updatesOnItsThreadAndRestarts()
    {
        QVERIFY(!restartsAfterUpdate("-autorun"));
        QVERIFY(restartsAfterUpdate("-autorun2"));
        QVERIFY(restartsAfterUpdate(""));

        QFile standIn(QStringLiteral(QUILLMARK_STANDIN_PROGRAM));
        QVERIFY(standIn.open(QIODevice::ReadOnly));
        const Entries release{{QStringLiteral("Quillmark"), standIn.readAll()}};
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, QStringLiteral("Quillmark"), &release);
        ReleaseServerProcess server(root.filePath(QStringLiteral("release")));
        QVERIFY(server.port() != 0);
        setup.servers = {loopbackServer(server.port()), loopbackServer(deadPort())};

        QThread thread;
        auto worker = std::make_unique<ThreadPost>(setup);
        bool onThisThread = false;
        int restart = -2;
        connect(worker.get(), &ThreadPost::Signal_UpdateSuccess, this, [&] {
            onThisThread = QThread::currentThread() == thread.thread();
            restart = quitAndRestart(setup.programPath.c_str());
        });
        QTimer::singleShot(20000, qApp, &QCoreApplication::quit); // never wait for ever
        startOn(thread, worker.get());
        QCoreApplication::exec();
        thread.quit();
        QVERIFY(thread.wait(5000));

        QVERIFY(onThisThread);
        QCOMPARE(restart, 0);
        QFile marker(QFile::decodeName(setup.programPath.c_str()) + QStringLiteral(".ran"));
        QTRY_VERIFY_WITH_TIMEOUT(marker.exists(), 10000);
        QVERIFY(marker.open(QIODevice::ReadOnly));
        QCOMPARE(marker.readAll(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestSelfUpdate)
#include "tst_selfupdate.moc"
