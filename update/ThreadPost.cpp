#include "update/ThreadPost.h"

#include "platform/FileLookup.h"
#include "platform/ProcessList.h"
#include "update/FileHelpers.h"
#include "update/HttpClient.h"
#include "update/UpdateSteps.h"

#include <quazip/JlCompress.h>

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

    std::string reply;
    const UpdateServer* server = nullptr;
    if (!findServer(reply, server))
        return UpdateOutcome::NoServer;

    // A failed request leaves the reply empty: an empty or missing digest counts as a newer release, and so
    // does an executable that cannot be read.
    char announced[33];
    GetJsonValue(announced, sizeof announced, reply.c_str(), "Quillmark");
    char local[33] = "";
    fileMd5Hex(local, sizeof local, startPath);
    if (announced[0] != '\0' && std::strcmp(announced, local) == 0)
        return UpdateOutcome::UpToDate;

    const std::string address =
        downloadAddress(server->downloadPrefix, static_cast<std::int64_t>(std::time(nullptr)));
    if (platform::downloadUrlToFile(address.c_str(), setup_.archivePath.c_str(), setup_.downloadLimits) !=
        0) {
        emit Signal_ShowMessage(QString(), updateBalloonText());
        return UpdateOutcome::DownloadFailed;
    }
    return replaceExecutable();
}

// Moves the running executable aside, unpacks the archive beside it and puts the new executable in its
// place. An archive that would write anywhere but inside the program's folder is refused before anything
// is moved.
UpdateOutcome ThreadPost::replaceExecutable()
{
    const char* startPath = setup_.programPath.c_str();
    const char* archivePath = setup_.archivePath.c_str();
    const QString archive = QString::fromLocal8Bit(archivePath);
    if (!archiveStaysInside(archive)) {
        std::remove(archivePath);
        return UpdateOutcome::ArchiveRefused;
    }

    const std::string oldCopy = oldCopyPath(setup_.programPath);
    std::remove(oldCopy.c_str()); // the previous update's old copy
    QThread::msleep(kSwapPauseMs);
    std::rename(startPath, oldCopy.c_str()); // a running executable may be moved
    QThread::msleep(kSwapPauseMs);
    JlCompress::extractDir(archive, QString::fromLocal8Bit(setup_.programDir.c_str()));
    QThread::msleep(kSwapPauseMs);

    // Only moves a file when the program was started under another name than its own.
    const std::string unpacked = setup_.programDir + platform::programExecutableName();
    std::rename(unpacked.c_str(), startPath);
    if (fileExists(startPath))
        platform::makeExecutable(startPath); // an archive made on Windows carries no execute permission
    else
        std::rename(oldCopy.c_str(), startPath);

    if (!fileExists(archivePath) || !fileExists(oldCopy.c_str()))
        return UpdateOutcome::NotReplaced;
    std::remove(archivePath);
    emit Signal_UpdateSuccess();
    return UpdateOutcome::Updated;
}
