#pragma once

#include "update/ReleaseSignature.h"

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

/// Whether every entry of the zip archive at `archivePath` unpacks inside its folder as a plain file or
/// folder (no symbolic links). False as well when the archive cannot be read.
bool archiveStaysInside(const QString& archivePath);

/// Whether `text` is what a version reply announces as a release: an MD5 digest, 32 hexadecimal digits.
bool isMd5Digest(const char* text);

/// Whether an archive entry named `name` would land on the user's settings file "Quillmark.qmk" beside
/// the program (letter case aside, as Windows treats names): such an entry is never unpacked, so an
/// update keeps the user's settings.
bool replacesSettingsFile(const QString& name);

/// What a downloaded release was found to be, before anything of it is unpacked.
enum class ReleaseVerdict
{
    Genuine,       // signed with a built-in key, unpacks inside its folder, holds the announced executable
    BadSignature,  // no signature, one of the wrong size, or one no built-in key accepts over these bytes
    EntryOutside,  // unreadable, or an entry would land outside the program's folder (or is a link)
    DigestDiffers, // its executable is missing or not the one whose digest the server announced
};

/// Judges the archive at `archivePath` with its detached `signature`, the program's release `keys` and the
/// digest the version reply announced (hex digits compared without regard to letter case).
ReleaseVerdict judgeRelease(const QString& archivePath, const QByteArray& signature,
                            const std::vector<release::PublicKey>& keys, const char* announcedDigest);

/// Whether an exchange with a server reached it, whatever it answered: a result of sendPostRequest()
/// other than a failed socket, a refused or unreachable connection, or an unknown host.
bool serverAnswered(int httpResult);

/// The address of the release archive under `downloadPrefix`, and of its signature; the time (seconds
/// since 1970) only keeps caches from serving an older file.
std::string downloadAddress(const std::string& downloadPrefix, std::int64_t secondsSince1970);
std::string signatureAddress(const std::string& downloadPrefix, std::int64_t secondsSince1970);
