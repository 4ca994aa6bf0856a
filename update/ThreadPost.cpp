#include "update/ThreadPost.h"

#include "platform/FileAccess.h"
#include "platform/FileLookup.h"
#include "platform/FileNameEncoding.h"
#include "platform/ProcessList.h"
#include "update/FileHelpers.h"
#include "update/HttpClient.h"
#include "update/ProgramVersion.h"
#include "update/ReleaseKeys.h"
#include "update/UpdateSteps.h"

#include <quazip/JlCompress.h>

#include <QFile>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Short pauses between the file moves of the swap, so that the file system has settled each one.
constexpr unsigned long kSwapPauseMs = 20;

} // namespace

QString updateBalloonText()
{
    return QString::fromUtf8("发现新版本,请进入Orvane下载更新!");
}

UpdateSetup programUpdateSetup(const char* programPath, const char* programDir, const char* archivePath)
{
    UpdateSetup setup;
    setup.programPath = programPath;
    setup.programDir = programDir;
    setup.archivePath = archivePath;
    setup.servers = programUpdateServers();
    setup.releaseKeys = programReleaseKeys();
    setup.programVersion = programVersion();
    return setup;
}

ThreadPost::ThreadPost(UpdateSetup setup, QObject* parent) : QObject(parent), setup_(std::move(setup)) {}

void ThreadPost::startPost()
{
    runUpdate();
}

void ThreadPost::stop()
{
    stopRequested_ = true;
}

// The primary server when it answers, else the backup; tried again after each pause while neither does.
// The version request itself is the test: a server that answers at all is reached, whatever its reply,
// and that reply is the one the run goes on with.
bool ThreadPost::findServer(std::string& reply, const UpdateServer*& chosen)
{
    for (int round = 0; setup_.maxRounds <= 0 || round < setup_.maxRounds; ++round) {
        QThread::msleep(static_cast<unsigned long>(setup_.roundPauseMs));
        if (stopRequested_)
            return false;
        for (const UpdateServer& server : setup_.servers) {
            reply.clear();
            const int result = sendPostRequest(server.host.c_str(), server.versionPath.c_str(), "", reply,
                                               {server.port, setup_.requestTimeoutMs});
            if (serverAnswered(result)) {
                chosen = &server;
                return true;
            }
        }
    }
    return false;
}

UpdateOutcome ThreadPost::runUpdate()
{
    const char* startPath = setup_.programPath.c_str();
    if (!fileExists(startPath))
        return UpdateOutcome::NoProgramFile;
    if (setup_.releaseKeys.empty())
        return UpdateOutcome::NoReleaseKey;

    std::string reply;
    const UpdateServer* server = nullptr;
    if (!findServer(reply, server))
        return UpdateOutcome::NoServer;

    // Only a digest announces a release. A failed request (an error status, say: a captive portal's page)
    // leaves the reply empty, and a reply without a digest says nothing about a release either: nothing
    // is downloaded. An executable that cannot be read differs from any digest.
    char announced[33];
    if (!GetJsonValue(announced, sizeof announced, reply.c_str(), "Quillmark") || !isMd5Digest(announced))
        return UpdateOutcome::NoRelease;
    char local[33] = "";
    fileMd5Hex(local, sizeof local, startPath);
    if (sameDigest(announced, local))
        return UpdateOutcome::UpToDate;

    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    release::Manifest manifest;
    if (const UpdateOutcome described = fetchManifest(*server, now, manifest);
        described != UpdateOutcome::Updated)
        return described;
    const std::string address = downloadAddress(server->downloadPrefix, now);
    if (platform::downloadUrlToFile(address.c_str(), setup_.archivePath.c_str(), setup_.downloadLimits) !=
        0) {
        emit Signal_ShowMessage(QString(), updateBalloonText());
        return UpdateOutcome::DownloadFailed;
    }
    const UpdateOutcome checked = checkRelease(manifest, announced);
    if (checked != UpdateOutcome::Updated) {
        platform::removeFile(setup_.archivePath);
        return checked;
    }
    return replaceExecutable();
}

// The release's signed description, before its archive: one that no release key signed, or that names a
// version not newer than this program's, ends the run before the archive is fetched. A replayed older
// release, once properly signed, is thus never installed. Updated when the archive may be fetched.
UpdateOutcome ThreadPost::fetchManifest(const UpdateServer& server, std::int64_t now,
                                        release::Manifest& manifest)
{
    const std::string path = setup_.archivePath + ".release";
    const std::string address = manifestAddress(server.downloadPrefix, now);
    platform::DownloadLimits limits = setup_.downloadLimits;
    limits.maxBytes = static_cast<long long>(release::kManifestMaxBytes);
    // Without a description (none published, or too long) no release can be trusted: as an archive
    // without a signature, that ends the run without a word.
    if (platform::downloadUrlToFile(address.c_str(), path.c_str(), limits) != 0)
        return UpdateOutcome::SignatureRefused;
    QFile file(platform::fileNameFromBytes(path.c_str()));
    const QByteArray text =
        file.open(QIODevice::ReadOnly) ? file.read(release::kManifestMaxBytes + 1) : QByteArray();
    file.close();
    platform::removeFile(path);
    if (!release::readSignedManifest(
            std::string_view(text.constData(), static_cast<std::size_t>(text.size())), setup_.releaseKeys,
            manifest))
        return UpdateOutcome::SignatureRefused;
    if (!release::isVersion(setup_.programVersion) ||
        release::compareVersions(manifest.version, setup_.programVersion) <= 0)
        return UpdateOutcome::NotNewer;
    return UpdateOutcome::Updated;
}

// Before anything is moved: the archive must be the very one the signed description names (its size and
// SHA-512, read from disk in pieces), hold the executable whose digest was announced, and unpack inside
// the program's folder within the limits. Anyone who can answer for the servers' names could otherwise
// install a program of their own. Updated when all holds, else the reason for the refusal, which shows
// nothing: there is nothing the user could do about it.
UpdateOutcome ThreadPost::checkRelease(const release::Manifest& manifest, const char* announced)
{
    switch (judgeRelease(setup_.archivePath, manifest, announced, setup_.unpackLimits)) {
    case ReleaseVerdict::Genuine:
        return UpdateOutcome::Updated;
    case ReleaseVerdict::BadSignature:
        return UpdateOutcome::SignatureRefused;
    case ReleaseVerdict::EntryOutside:
        return UpdateOutcome::ArchiveRefused;
    case ReleaseVerdict::DigestDiffers:
        break;
    }
    return UpdateOutcome::DigestMismatch;
}

// Moves the running executable aside, unpacks the checked archive beside it and puts the new executable
// in its place. The user's settings file is never unpacked over.
UpdateOutcome ThreadPost::replaceExecutable()
{
    const char* startPath = setup_.programPath.c_str();
    const char* archivePath = setup_.archivePath.c_str();
    const QString archive = platform::fileNameFromBytes(archivePath);
    QStringList entries;
    for (const QString& entry : JlCompress::getFileList(archive)) {
        if (!replacesSettingsFile(entry))
            entries << entry;
    }

    const std::string oldCopy = oldCopyPath(setup_.programPath);
    platform::removeFile(oldCopy); // the previous update's old copy
    QThread::msleep(kSwapPauseMs);
    // A running executable may be moved, but never written over: one that cannot be moved aside (its old
    // copy still in use, say) keeps its place, and nothing is unpacked over it.
    if (!platform::replaceFile(startPath, oldCopy))
        return UpdateOutcome::NotReplaced;
    QThread::msleep(kSwapPauseMs);
    JlCompress::extractFiles(archive, entries, platform::fileNameFromBytes(setup_.programDir.c_str()));
    QThread::msleep(kSwapPauseMs);

    // Only moves a file when the program was started under another name than its own.
    const std::string unpacked = setup_.programDir + platform::programExecutableName();
    platform::replaceFile(unpacked, startPath);
    if (fileExists(startPath))
        platform::makeExecutable(startPath); // an archive made on Windows carries no execute permission
    else
        platform::replaceFile(oldCopy, startPath);

    if (!fileExists(archivePath) || !fileExists(oldCopy.c_str()))
        return UpdateOutcome::NotReplaced;
    platform::removeFile(archivePath);
    emit Signal_UpdateSuccess();
    return UpdateOutcome::Updated;
}
