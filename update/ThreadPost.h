#pragma once

#include "platform/UrlDownload.h"
#include "update/ReleaseManifest.h"
#include "update/ReleaseSignature.h"
#include "update/UpdateServers.h"
#include "update/UpdateSteps.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <string>
#include <vector>

/// The balloon a failed download shows on the tray icon: no title, the information icon, for this long.
constexpr int kUpdateBalloonMs = 1000;
/// Its text.
QString updateBalloonText();

/// What one update run works with.
struct UpdateSetup
{
    std::string programPath;             // the executable as the program was started: the file replaced
    std::string programDir;              // its folder, ending in a separator; empty: the current folder
    std::string archivePath;             // where the release archive is downloaded to
    std::array<UpdateServer, 2> servers; // the primary server, then the backup
    std::vector<release::PublicKey> releaseKeys; // a release is installed only when one of them signed it
    std::string programVersion;          // a release is installed only when it is newer
    int roundPauseMs = 511;              // pause before each attempt to reach a server
    int maxRounds = 0;                   // attempts before giving up; 0: keep trying while the program runs
    int requestTimeoutMs = 15000;        // for each version request
    platform::DownloadLimits downloadLimits; // for the archive; its description gets a few kilobytes
    UnpackLimits unpackLimits;
};

/// The program's own setup: its paths (as the entry function found them), its update servers and its
/// release keys.
UpdateSetup programUpdateSetup(const char* programPath, const char* programDir, const char* archivePath);

/// How an update run ended.
/// Every outcome but Updated leaves the program file and the settings file as they were; every refused
/// archive is deleted before anything is moved.
enum class UpdateOutcome
{
    UpToDate,         // the server announced this executable's digest: nothing downloaded
    NotNewer,         // the signed description names a version not newer than this one: no archive fetched
    Updated,          // the executable was replaced and Signal_UpdateSuccess() emitted
    NotReplaced,      // the executable could not be moved aside, or the unpacking left none: the old one
                      // is (back) in place, the archive stays
    ArchiveRefused,   // the archive was unreadable, or would unpack outside the folder or past the
                      // limits: deleted
    SignatureRefused, // no description that a release key signed (none fetched, or another key's), or an
                      // archive other than the one it describes: deleted
    DigestMismatch,   // the archive's executable is missing or is not the announced release: deleted
    DownloadFailed,   // the archive could not be downloaded (or outgrew its limit): Signal_ShowMessage()
                      // emitted, nothing left behind
    NoRelease,        // the reply announced no digest (failed request, error status, no member): no download
    NoServer,         // no server answered within maxRounds, or stop() was called
    NoProgramFile,    // no file at programPath (started from another folder by a bare name): nothing to replace
    NoReleaseKey,     // the program carries no release key, so it could install nothing: no server asked
};

/// The once-per-run version check and self-update. It lives on a thread of its own, started by the main
/// window: the thread's started() runs startPost(). Results reach the window only through the two signals,
/// which cross to the window's thread as queued connections; this class knows no widgets.
class ThreadPost : public QObject
{
    Q_OBJECT

  public:
    explicit ThreadPost(UpdateSetup setup, QObject* parent = nullptr);

    /// The whole check-and-update run, blocking the calling thread: wait, find a server that answers,
    /// compare the announced digest with the executable's, download the release's signed description and
    /// check its signature and version, download the archive and check it against the description and the
    /// announced digest, unpack and swap the executable.
    UpdateOutcome runUpdate();

    /// Ends a run that is still looking for a server, at its next attempt. Safe from any thread.
    void stop();

  signals:
    /// The executable was replaced by the new release.
    void Signal_UpdateSuccess();
    /// A message for the user's tray icon (title, text): shown as a balloon by the window's thread.
    void Signal_ShowMessage(const QString& title, const QString& text);

  public slots:
    /// Runs runUpdate() once; connected to the update thread's started().
    void startPost();

  private:
    bool findServer(std::string& reply, const UpdateServer*& chosen);
    UpdateOutcome fetchManifest(const UpdateServer& server, std::int64_t now, release::Manifest& manifest);
    UpdateOutcome checkRelease(const release::Manifest& manifest, const char* announced);
    UpdateOutcome replaceExecutable();

    const UpdateSetup setup_;
    std::atomic<bool> stopRequested_{false};
};
