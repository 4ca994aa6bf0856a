// The version check and self-update: reading the announced digest, naming the old copy, refusing archives
// that reach outside the program's folder, whole update runs against servers on loopback (installing only
// a release signed with the program's key whose executable is the announced one), and the restart that
// follows an update.

#include "platform/ProcessList.h"
#include "update/FileHelpers.h"
#include "update/ReleaseManifest.h"
#include "update/ReleaseSignature.h"
#include "update/ThreadPost.h"
#include "update/UpdateRestart.h"
#include "update/UpdateSteps.h"

#include "UpdateTestServers.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <memory>

using updatetest::CannedHttpServer;
using updatetest::deadPort;
using updatetest::kEndless;
using updatetest::ReleaseServerProcess;

namespace {

using Entries = QList<QPair<QString, QByteArray>>; // archive entries: name, content

const QByteArray kOldBuild = "old build";
const QByteArray kNewBuild = "new build";
const QByteArray kSettings = "SourcePath=/data/in/\r\nxlsxMode=y\r\n"; // the user's settings file

// Who signed a release's description, if anyone.
enum class Signer
{
    None,       // no description at all
    ReleaseKey, // the key the program trusts
    OtherKey,   // a key of someone else's
    OtherBytes, // the trusted key, but describing another archive
};

// How a canned server sends the release.
enum class Served
{
    Whole,
    HalfArchive,        // only the first half of the archive
    EndlessArchive,     // an archive body that never ends
    EndlessDescription, // a description that never ends
    NoArchive,          // the description, but no archive (404)
};

const QByteArray kProgramVersion = "7.0";

// The executable's file name, as a release holds it ("Quillmark.exe" on Windows), and how the name of a
// program file ends there.
const QString kExecutable = QString::fromLatin1(platform::programExecutableName());
#ifdef _WIN32
const QString kExecutableEnding = QStringLiteral(".exe");
#else
const QString kExecutableEnding;
#endif

// The program folder's files when nothing was touched: the executable, the settings and a leftover old copy.
QStringList untouchedProgramFolder()
{
    return {kExecutable + QStringLiteral("=old build"), "Quillmark.qmk=" + QString::fromUtf8(kSettings),
            QStringLiteral("Quillmark_old=leftover")};
}

QByteArray digestOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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
Q_DECLARE_METATYPE(Signer)
Q_DECLARE_METATYPE(Served)

class TestSelfUpdate : public QObject
{
    Q_OBJECT

    QTemporaryDir keys_;
    release::PublicKey releaseKey_{};
    std::unique_ptr<release::SecretKey> releaseSecret_ = std::make_unique<release::SecretKey>();
    std::unique_ptr<release::SecretKey> otherSecret_ = std::make_unique<release::SecretKey>();

    QString keyFile(const char* name) const { return keys_.filePath(QString::fromLatin1(name)); }

    // Writes `entries` as the release archive of `folder` and its description of `version` as `signer`
    // makes it.
    void writeRelease(const QString& folder, const Entries& entries, Signer signer,
                      const QByteArray& version) const
    {
        const QString archive = QDir(folder).filePath(QStringLiteral("Quillmark.zip"));
        QVERIFY(writeArchive(archive, entries));
        QByteArray described = readAll(archive);
        if (signer == Signer::None)
            return;
        if (signer == Signer::OtherBytes)
            described += "another archive";
        release::Manifest manifest;
        manifest.version = version.toStdString();
        manifest.archiveBytes = described.size();
        manifest.archiveSha512 =
            QCryptographicHash::hash(described, QCryptographicHash::Sha512).toHex().toStdString();
        const std::string text =
            release::signedManifest(manifest, signer == Signer::OtherKey ? *otherSecret_ : *releaseSecret_);
        QVERIFY(!text.empty());
        QVERIFY(writeFile(QDir(folder).filePath(QStringLiteral("Quillmark.release")),
                          QByteArray::fromStdString(text)));
    }

    // A program folder holding the executable `startName` ("old build"), a leftover old copy and the
    // user's settings file, and a release folder with `entries` as its archive signed by `signer` (no
    // archive when null). The program trusts the release key.
    UpdateSetup prepare(const QTemporaryDir& root, const QString& startName, const Entries* entries,
                        Signer signer = Signer::ReleaseKey, const QByteArray& version = "7.1") const
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
        setup.downloadLimits = {2, 5, 10, 1024 * 1024};
        setup.unpackLimits = {1024 * 1024, 20};
        setup.releaseKeys = {releaseKey_};
        setup.programVersion = kProgramVersion.toStdString();
        writeFile(QFile::decodeName(setup.programPath.c_str()), kOldBuild);
        writeFile(QFile::decodeName(::oldCopyPath(setup.programPath).c_str()), "leftover");
        writeFile(QFile::decodeName((setup.programDir + "Quillmark.qmk").c_str()), kSettings);
        if (entries)
            writeRelease(root.filePath(QStringLiteral("release")), *entries, signer, version);
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
        // The tests' own key pairs, made the way a release manager makes the project's.
        QVERIFY(keys_.isValid());
        for (const char* name : {"release.key", "other.key"}) {
            QProcess keygen;
            keygen.start(QStringLiteral(QUILLMARK_RELEASE_SERVER), {QStringLiteral("keygen"), keyFile(name)});
            QVERIFY(keygen.waitForFinished(10000));
            QCOMPARE(keygen.exitCode(), 0);
        }
        QCOMPARE(release::readPublicKeyFile(QFile::encodeName(keyFile("release.key.pub")).toStdString(), releaseKey_),
                 std::string());
        QCOMPARE(release::readSecretKeyFile(QFile::encodeName(keyFile("release.key")).toStdString(), *releaseSecret_),
                 std::string());
        QCOMPARE(release::readSecretKeyFile(QFile::encodeName(keyFile("other.key")).toStdString(), *otherSecret_),
                 std::string());
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
        QTest::newRow("member without a value") << QByteArray("{\"Quillmark\":}") << true << QByteArray();
        QTest::newRow("member without a colon") << QByteArray("{\"Quillmark\"}") << false << QByteArray();
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

    // The entries an update never unpacks: those that would land on the settings file.
    void replacesSettingsFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("replaces");
        QTest::newRow("settings file") << QStringLiteral("Quillmark.qmk") << true;
        QTest::newRow("in other letter case") << QStringLiteral("quillmark.QMK") << true;
        QTest::newRow("through the current folder") << QStringLiteral("./Quillmark.qmk") << true;
        QTest::newRow("Windows separators") << QStringLiteral(".\\Quillmark.qmk") << true;
        QTest::newRow("in a subfolder") << QStringLiteral("docs/Quillmark.qmk") << false;
        QTest::newRow("executable") << QStringLiteral("Quillmark") << false;
    }
    void replacesSettingsFile()
    {
        QFETCH(QString, name);
        QFETCH(bool, replaces);
        QCOMPARE(::replacesSettingsFile(name), replaces);
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

    // Whole update runs against servers on loopback: the release server over a release folder, or, where
    // a server must misbehave, one with canned replies. What the program folder holds afterwards, and the
    // signals sent: the success only when the executable was replaced, the balloon only when the archive
    // could not be downloaded. Every refusal (the attacks of a server that answers for the program's
    // update hosts among them) leaves the program file and the settings file byte for byte as they were,
    // and no download behind. The program is version 7.0 and may unpack 1 MiB in 20 entries.
    void updates_data()
    {
        QTest::addColumn<QString>("startName");
        QTest::addColumn<Entries>("entries"); // of the release archive; none when empty
        QTest::addColumn<Signer>("signer");
        QTest::addColumn<QByteArray>("version");  // the release's, as its description names it
        QTest::addColumn<QByteArray>("reply");    // a canned version reply; empty: the release server answers
        QTest::addColumn<Served>("served");       // how the canned server sends the release
        QTest::addColumn<bool>("primaryAnswers"); // else only the backup server does
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QStringList>("programFolder"); // afterwards

        const QString exe = kExecutable;
        const QString settings = QStringLiteral("Quillmark.qmk=") + QString::fromUtf8(kSettings);
        const Entries release{{exe, kNewBuild}, {QStringLiteral("notes.txt"), "notes"}};
        const QStringList updated{exe + "=new build", settings, "Quillmark_old=old build", "notes.txt=notes"};
        const QStringList untouched = untouchedProgramFolder();
        const QByteArray newDigest = "{\"Quillmark\":\"" + digestOf(kNewBuild) + "\"}";
        const QByteArray none;
        const QByteArray v = "7.1";
        using O = UpdateOutcome;
        using S = Signer;
        const Served whole = Served::Whole;
        QTest::newRow("announced digest is this executable's")
            << exe << Entries{{exe, kOldBuild}} << S::ReleaseKey << v << none << whole << true << O::UpToDate
            << untouched;
        QTest::newRow("newer release")
            << exe << release << S::ReleaseKey << v << none << whole << true << O::Updated << updated;
        QTest::newRow("only the backup server answers")
            << exe << release << S::ReleaseKey << v << none << whole << false << O::Updated << updated;
        QTest::newRow("started under another name")
            << "convert" + kExecutableEnding << release << S::ReleaseKey << v << none << whole << true
            << O::Updated
            << QStringList{"Quillmark.qmk=" + QString::fromUtf8(kSettings),
                           "convert" + kExecutableEnding + "=new build", "convert_old=old build",
                           "notes.txt=notes"};
        QTest::newRow("release with a settings file keeps the user's")
            << exe << Entries{{exe, kNewBuild}, {QStringLiteral("Quillmark.qmk"), "xlsxMode=n\r\n"}}
            << S::ReleaseKey << v << none << whole << true << O::Updated
            << QStringList{exe + "=new build", settings, "Quillmark_old=old build"};

        QTest::newRow("signed with another key") << exe << release << S::OtherKey << v << none << whole
                                                 << true << O::SignatureRefused << untouched;
        QTest::newRow("unsigned release")
            << exe << release << S::None << v << none << whole << true << O::SignatureRefused << untouched;
        QTest::newRow("description of other bytes") << exe << release << S::OtherBytes << v << none << whole
                                                    << true << O::SignatureRefused << untouched;
        QTest::newRow("archive truncated on the way")
            << exe << release << S::ReleaseKey << v << newDigest << Served::HalfArchive << true
            << O::SignatureRefused << untouched;
        QTest::newRow("executable is not the announced one")
            << exe << release << S::ReleaseKey << v
            << QByteArray("{\"Quillmark\":\"" + digestOf("newer build") + "\"}") << whole << true
            << O::DigestMismatch << untouched;
        QTest::newRow("signed entry in the parent folder")
            << exe << Entries{{exe, kNewBuild}, {QStringLiteral("../escape.txt"), "x"}} << S::ReleaseKey << v
            << none << whole << true << O::ArchiveRefused << untouched;
        QTest::newRow("signed entry with an absolute path")
            << exe << Entries{{QStringLiteral("/escape.txt"), "x"}, {exe, kNewBuild}} << S::ReleaseKey << v
            << none << whole << true << O::ArchiveRefused << untouched;

        // The attacks of a hostile server: a replay of an older signed release, this very executable
        // announced in capitals, bodies without end, an archive that expands past the limits, an error
        // status whose headers hold "200".
        QTest::newRow("replay of an older release") << exe << release << S::ReleaseKey << QByteArray("6.9")
                                                    << none << whole << true << O::NotNewer << untouched;
        QTest::newRow("same version again") << exe << release << S::ReleaseKey << kProgramVersion << none
                                            << whole << true << O::NotNewer << untouched;
        QTest::newRow("this executable's digest in capitals")
            << exe << release << S::ReleaseKey << v
            << QByteArray("{\"Quillmark\":\"" + digestOf(kOldBuild).toUpper() + "\"}") << whole << true
            << O::UpToDate << untouched;
        QTest::newRow("endless archive") << exe << release << S::ReleaseKey << v << newDigest
                                         << Served::EndlessArchive << true << O::DownloadFailed << untouched;
        QTest::newRow("endless description")
            << exe << release << S::ReleaseKey << v << newDigest << Served::EndlessDescription << true
            << O::SignatureRefused << untouched;
        QTest::newRow("signed archive that expands past the limit")
            << exe << Entries{{exe, kNewBuild}, {QStringLiteral("zeros"), QByteArray(2 * 1024 * 1024, '\0')}}
            << S::ReleaseKey << v << none << whole << true << O::ArchiveRefused << untouched;
        Entries crowded{{exe, kNewBuild}};
        for (int i = 0; i < 20; ++i)
            crowded.append({QStringLiteral("entry%1").arg(i), "x"});
        QTest::newRow("signed archive with too many entries")
            << exe << crowded << S::ReleaseKey << v << none << whole << true << O::ArchiveRefused
            << untouched;
        QTest::newRow("error status with 200 in a header")
            << exe << release << S::ReleaseKey << v
            << "HTTP/1.0 404 Not Found\r\nX-Served-By: node-200\r\nContent-Length: 2000\r\n\r\n" + newDigest
            << whole << true << O::NoRelease << untouched;

        // Nothing announced, nothing downloaded: the release server has no executable to announce (404), or
        // a reply holds no digest.
        QTest::newRow("release without the executable")
            << exe << Entries{{QStringLiteral("notes.txt"), "notes"}} << S::ReleaseKey << v << none << whole
            << true << O::NoRelease << untouched;
        QTest::newRow("no release published")
            << exe << Entries{} << S::None << v << none << whole << true << O::NoRelease << untouched;
        QTest::newRow("reply without a digest")
            << exe << release << S::ReleaseKey << v << QByteArray("{\"Quillmark\":}") << whole << true
            << O::NoRelease << untouched;
        QTest::newRow("download fails") << exe << Entries{{exe, kNewBuild}} << S::ReleaseKey << v << newDigest
                                        << Served::NoArchive << true << O::DownloadFailed << untouched;
    }
    void updates()
    {
        QFETCH(QString, startName);
        QFETCH(Entries, entries);
        QFETCH(Signer, signer);
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, reply);
        QFETCH(Served, served);
        QFETCH(bool, primaryAnswers);
        QFETCH(UpdateOutcome, outcome);
        QFETCH(QStringList, programFolder);
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, startName, entries.isEmpty() ? nullptr : &entries, signer, version);
        const QString releaseFolder = root.filePath(QStringLiteral("release"));

        std::unique_ptr<ReleaseServerProcess> releaseServer;
        std::unique_ptr<CannedHttpServer> cannedServer;
        quint16 port = 0;
        if (reply.isEmpty()) {
            releaseServer = std::make_unique<ReleaseServerProcess>(releaseFolder);
            port = releaseServer->port();
        } else {
            QMap<QByteArray, QByteArray> bodies{{"/version", reply}};
            const QByteArray archive = readAll(releaseFolder + QStringLiteral("/Quillmark.zip"));
            if (!archive.isEmpty() && served != Served::NoArchive)
                bodies.insert("/Quillmark.zip", served == Served::HalfArchive
                                                    ? archive.left(archive.size() / 2)
                                                : served == Served::EndlessArchive ? kEndless
                                                                                   : archive);
            if (QFile::exists(releaseFolder + QStringLiteral("/Quillmark.release")))
                bodies.insert("/Quillmark.release",
                              served == Served::EndlessDescription
                                  ? kEndless
                                  : readAll(releaseFolder + QStringLiteral("/Quillmark.release")));
            cannedServer = std::make_unique<CannedHttpServer>(bodies);
            port = cannedServer->port();
        }
        QVERIFY(port != 0);
        setup.servers = {loopbackServer(primaryAnswers ? port : deadPort()),
                         loopbackServer(primaryAnswers ? deadPort() : port)};

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

    // An executable that cannot be moved aside (a folder in its old copy's place, or, on Windows, an old
    // copy still in use) is never written over: nothing is unpacked, and no success is reported.
    void keepsAProgramThatCannotBeMovedAside_data()
    {
        QTest::addColumn<bool>("oldCopyInUse"); // else a folder has the old copy's name
        QTest::newRow("folder in the old copy's place") << false;
#ifdef _WIN32
        QTest::newRow("old copy still in use") << true;
#endif
    }
    void keepsAProgramThatCannotBeMovedAside()
    {
        QFETCH(bool, oldCopyInUse);
        const Entries release{{kExecutable, kNewBuild}};
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, kExecutable, &release);
        const QString oldCopy = QFile::decodeName(::oldCopyPath(setup.programPath).c_str());
        QFile inUse(oldCopy); // open, Windows lets no one remove or replace it
        if (oldCopyInUse) {
            QVERIFY(inUse.open(QIODevice::ReadOnly));
        } else {
            QVERIFY(QFile::remove(oldCopy));
            QVERIFY(QDir().mkpath(oldCopy + QStringLiteral("/kept"))); // not empty: it cannot be removed
        }
        ReleaseServerProcess server(root.filePath(QStringLiteral("release")));
        QVERIFY(server.port() != 0);
        setup.servers = {loopbackServer(server.port()), loopbackServer(deadPort())};
        setup.requestTimeoutMs = 20000; // a real server, which a loaded machine (a sanitizer build) may slow
        ThreadPost worker(setup);
        QSignalSpy success(&worker, &ThreadPost::Signal_UpdateSuccess);
        QCOMPARE(worker.runUpdate(), UpdateOutcome::NotReplaced);
        QCOMPARE(success.count(), 0);
        QCOMPARE(readAll(QFile::decodeName(setup.programPath.c_str())), kOldBuild);
    }

    // Versions compare number by number; the text of a version is digits and dots only.
    void compareVersions_data()
    {
        QTest::addColumn<QByteArray>("newer");
        QTest::addColumn<QByteArray>("older");
        QTest::newRow("second number of two digits") << QByteArray("7.10") << QByteArray("7.9");
        QTest::newRow("more numbers") << QByteArray("7.0.1") << QByteArray("7");
        QTest::newRow("first number decides") << QByteArray("10.0") << QByteArray("9.99.99");
    }
    void compareVersions()
    {
        QFETCH(QByteArray, newer);
        QFETCH(QByteArray, older);
        QVERIFY(release::compareVersions(newer.toStdString(), older.toStdString()) > 0);
        QVERIFY(release::compareVersions(older.toStdString(), newer.toStdString()) < 0);
        QCOMPARE(release::compareVersions("7.1", "7.1.0"), 0);
        for (const char* text : {"", "7.", ".7", "7..1", "7.x", "1234567890", "-1"})
            QVERIFY2(!release::isVersion(text), text);
    }

    // A program that carries no release key could install nothing, so it asks no server at all.
    void asksNoServerWithoutAReleaseKey()
    {
        const Entries release{{kExecutable, kNewBuild}};
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, kExecutable, &release);
        CannedHttpServer server({{"/version", "{\"Quillmark\":\"" + digestOf(kNewBuild) + "\"}"}});
        setup.servers = {loopbackServer(server.port()), loopbackServer(server.port())};
        setup.releaseKeys.clear();
        ThreadPost worker(setup);
        QCOMPARE(worker.runUpdate(), UpdateOutcome::NoReleaseKey);
        QCOMPARE(server.requests(), 0);
        QCOMPARE(filesIn(root.filePath(QStringLiteral("program"))), untouchedProgramFolder());
    }

    // The release manager's way, with the release server's own commands: publish --key reads the version
    // the executable records and signs the archive's description, serve sends it beside the archive, and
    // the program installs the release. The detached signature over the archive stays for programs that
    // read nothing else.
    void installsAReleasePublishedWithTheKey()
    {
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, kExecutable, nullptr);
        const QString build = root.filePath(QStringLiteral("build"));
        QVERIFY(QDir().mkpath(build));
        const QByteArray executable = kNewBuild + QByteArray("\0Quillmark-release-version:7.2\0", 32);
        QVERIFY(writeFile(build + QLatin1Char('/') + kExecutable, executable));
        QProcess publish;
        publish.start(QStringLiteral(QUILLMARK_RELEASE_SERVER),
                      {QStringLiteral("publish"), QStringLiteral("--key"), keyFile("release.key"),
                       root.filePath(QStringLiteral("release")), build + QLatin1Char('/') + kExecutable});
        QVERIFY(publish.waitForFinished(10000));
        QCOMPARE(publish.exitCode(), 0);
        const QDir releaseFolder(root.filePath(QStringLiteral("release")));
        QCOMPARE(releaseFolder.entryList(QDir::Files),
                 (QStringList{"Quillmark.release", "Quillmark.zip", "Quillmark.zip.sig"}));
        release::Manifest manifest;
        QVERIFY(release::readSignedManifest(
            readAll(releaseFolder.filePath(QStringLiteral("Quillmark.release"))).toStdString(), {releaseKey_},
            manifest));
        QCOMPARE(manifest.version, std::string("7.2"));
        const QByteArray archive = readAll(releaseFolder.filePath(QStringLiteral("Quillmark.zip")));
        QVERIFY(release::signatureValid(
            archive.toStdString(),
            readAll(releaseFolder.filePath(QStringLiteral("Quillmark.zip.sig"))).toStdString(),
            {releaseKey_}));

        ReleaseServerProcess server(releaseFolder.path());
        QVERIFY(server.port() != 0);
        setup.servers = {loopbackServer(server.port()), loopbackServer(deadPort())};
        ThreadPost worker(setup);
        QCOMPARE(worker.runUpdate(), UpdateOutcome::Updated);
        QCOMPARE(readAll(QFile::decodeName(setup.programPath.c_str())), executable);
    }

    // Publishing needs a key that can sign and a version: without them the release folder stays as it was.
    void publishRefusesAMissingKeyOrVersion_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("versionOption");
        QTest::newRow("missing key") << QStringLiteral("missing.key") << QStringList{"--version", "7.1"};
        QTest::newRow("damaged key") << QStringLiteral("damaged.key") << QStringList{"--version", "7.1"};
        QTest::newRow("no version recorded nor given") << QString() << QStringList();
        QTest::newRow("not a version") << QString() << QStringList{"--version", "7.1-beta"};
    }
    void publishRefusesAMissingKeyOrVersion()
    {
        QFETCH(QString, key);
        QFETCH(QStringList, versionOption);
        QTemporaryDir root;
        QVERIFY(writeFile(root.filePath(kExecutable), kNewBuild));
        QVERIFY(writeFile(root.filePath(QStringLiteral("damaged.key")), QByteArray(128, 'a') + '\n'));
        QProcess publish;
        publish.start(QStringLiteral(QUILLMARK_RELEASE_SERVER),
                      QStringList{QStringLiteral("publish"), QStringLiteral("--key"),
                                  key.isEmpty() ? keyFile("release.key") : root.filePath(key)} +
                          versionOption +
                          QStringList{root.path(), root.filePath(kExecutable)});
        QVERIFY(publish.waitForFinished(10000));
        QCOMPARE(publish.exitCode(), 1);
        QCOMPARE(QDir(root.path()).entryList(QDir::Files), (QStringList{"damaged.key", kExecutable}));
    }

    // As in the program, only stop() ends the search for a server; nothing is touched meanwhile.
    void keepsTryingWhileNoServerAnswers()
    {
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, kExecutable, nullptr);
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
        QCOMPARE(filesIn(root.filePath(QStringLiteral("program"))), untouchedProgramFolder());
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
        const Entries release{{kExecutable, standIn.readAll()}};
        QTemporaryDir root;
        UpdateSetup setup = prepare(root, kExecutable, &release);
        setup.downloadLimits.maxBytes = platform::kDownloadMaxBytes; // a real program, of some megabytes
        setup.unpackLimits = UnpackLimits();
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
