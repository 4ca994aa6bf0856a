#pragma once

#include "update/ReleaseManifest.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The decisions of the self-update, apart from the network and the file system.

/// Reads the value of member `key` from a flat JSON object `text` whose values hold no comma: from behind the
/// colon after "key" up to the next comma, or, when no comma follows the key at all, up to the object's last
/// closing brace; blanks (spaces, tabs) around it and every leading and trailing double quote removed.
/// True with the value in `output`; false, with `output` empty, when the member is missing or its value does
/// not fit in `outputSize` bytes (a version digest needs 33): a longer value is refused, never cut.
bool GetJsonValue(char* output, std::size_t outputSize, const char* text, const char* key);

/// Where the running executable is moved during an update: its path with the last ".exe" replaced by "_old"
/// (Quillmark.exe -> Quillmark_old). An executable whose file name holds no ".exe", as here, gets "_old"
/// appended (Quillmark -> Quillmark_old), so the old copy never has the executable's own name.
std::string oldCopyPath(const std::string& startPath);

/// Whether an archive entry named `name` unpacks inside the folder it is unpacked into: a relative path
/// without a ".." component, on any system (so neither "/", "\" nor a drive letter begins it).
bool archiveEntryStaysInside(const QString& name);

/// How much an update may unpack: far more than a release holds (one executable and a few files of tens
/// of megabytes), far less than would fill the program's disk.
constexpr unsigned long long kMaxUnpackedBytes = 512ULL * 1024 * 1024;
constexpr int kMaxArchiveEntries = 1000;

struct UnpackLimits
{
    unsigned long long maxBytes = kMaxUnpackedBytes; // the entries' sizes added up
    int maxEntries = kMaxArchiveEntries;
};

/// Whether every entry of the zip archive at `archivePath` unpacks inside its folder as a plain file or
/// folder (no symbolic links), and all of them together within `limits`. False as well when the archive
/// cannot be read.
bool archiveStaysInside(const QString& archivePath, const UnpackLimits& limits = {});

/// Whether `text` is what a version reply announces as a release: an MD5 digest, 32 hexadecimal digits.
bool isMd5Digest(const char* text);

/// Whether two digests in hexadecimal are the same, whatever the letter case of their digits.
bool sameDigest(const char* a, const char* b);

/// Whether an archive entry named `name` would land on the user's settings file "Quillmark.qmk" beside
/// the program (letter case aside, as Windows treats names): such an entry is never unpacked, so an
/// update keeps the user's settings.
bool replacesSettingsFile(const QString& name);

/// What a downloaded release was found to be, before anything of it is unpacked.
enum class ReleaseVerdict
{
    Genuine,       // signed with a built-in key, unpacks inside its folder, holds the announced executable
    BadSignature,  // not the archive the signed description names: another size or SHA-512
    EntryOutside,  // unreadable, an entry would land outside the program's folder (or is a link), or it
                   // unpacks past the limits
    DigestDiffers, // its executable is missing or not the one whose digest the server announced
};

/// Judges the archive at `archivePath` (read from disk in pieces, never whole) against the release's
/// signed `manifest`, the digest the version reply announced (compared as sameDigest() does) and `limits`.
ReleaseVerdict judgeRelease(const std::string& archivePath, const release::Manifest& manifest,
                            const char* announcedDigest, const UnpackLimits& limits = {});

/// Whether an exchange with a server reached it, whatever it answered: a result of sendPostRequest()
/// other than a failed socket, a refused or unreachable connection, or an unknown host.
bool serverAnswered(int httpResult);

/// The address of the release archive under `downloadPrefix`, and of its signed description; the time
/// (seconds since 1970) only keeps caches from serving an older file.
std::string downloadAddress(const std::string& downloadPrefix, std::int64_t secondsSince1970);
std::string manifestAddress(const std::string& downloadPrefix, std::int64_t secondsSince1970);
