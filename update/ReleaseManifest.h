#pragma once

#include "update/ReleaseSignature.h"

#include <string>
#include <string_view>
#include <vector>

// The signed description of a release, published beside its archive: which version it is, and the
// archive's exact size and SHA-512. The program checks the description's signature, installs only a
// version newer than its own (so a replayed older release, however well signed, is refused) and checks
// the archive against the size and digest by reading it from disk in pieces.
//
// Its text, 8-bit, lines ended by a line feed; the signature covers every byte before its own line:
//     Quillmark release
//     version=7.1
//     archive-bytes=31457280
//     archive-sha512=<128 lowercase hex digits>
//     signature=<128 hex digits: the detached Ed25519 signature>
// Lines of other names before the signature are signed too and left to later programs.

namespace release {

/// Largest description accepted: a few lines.
constexpr std::size_t kManifestMaxBytes = 4096;

struct Manifest
{
    std::string version;        // digits and dots, as isVersion() takes them
    long long archiveBytes = 0; // the archive's size
    std::string archiveSha512;  // its SHA-512, 128 lowercase hex digits
};

/// Whether `text` is a version: one to eight numbers of one to nine digits, separated by dots ("7.10").
bool isVersion(std::string_view text);

/// Compares two versions number by number (7.10 is newer than 7.9; missing numbers count as 0, so 7.1
/// and 7.1.0 are equal): negative when `a` is older than `b`, 0 when equal, positive when newer. Both must
/// satisfy isVersion().
int compareVersions(std::string_view a, std::string_view b);

/// The signed text of `manifest`; empty when it is not complete or the key cannot sign.
std::string signedManifest(const Manifest& manifest, const SecretKey& secretKey);

/// Reads a signed description: true with `manifest` filled when its form is right and one of `keys`
/// signed it; false otherwise (`manifest` then holds nothing to rely on).
bool readSignedManifest(std::string_view text, const std::vector<PublicKey>& keys, Manifest& manifest);

/// The size and SHA-512 (lowercase hex) of the file at `path`, read in pieces; false when it cannot be
/// read or holds more than `maxBytes` bytes.
bool fileSha512(const std::string& path, long long maxBytes, long long& bytes, std::string& sha512Hex);

/// The text before the version that a program's executable carries: "<marker><version>" followed by a
/// NUL byte, so that the release server can read the version from the executable it publishes.
constexpr char kVersionMarker[] = "Quillmark-release-version:";

/// The version recorded in the executable at `path`: true with `version` when it holds exactly one
/// version record (the same one repeated counts once); false with `error` otherwise.
bool versionOfExecutable(const std::string& path, std::string& version, std::string& error);

} // namespace release
