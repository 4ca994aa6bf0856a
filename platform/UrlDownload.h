#pragma once

namespace platform {

/// The most a download may bring: well above the largest release archive the program has had (tens of
/// megabytes), far below what would fill a disk.
constexpr long long kDownloadMaxBytes = 256LL * 1024 * 1024;

/// How long and how large a download may be. A server that stops sending, sends too slowly or sends more
/// than maxBytes ends it as a failure.
struct DownloadLimits
{
    int connectSeconds = 20;                // to reach the server
    int stallSeconds = 60;                  // without a single byte arriving
    int totalSeconds = 1800;                // for the whole transfer
    long long maxBytes = kDownloadMaxBytes; // of the body; one byte more fails the download
};

/// Downloads the http or https address `url` into the file at `path`, following redirects. The bytes are
/// written under a temporary name beside `path` and renamed onto it only when complete, so `path` never
/// holds a partial file. 0 when the file was downloaded; -1 when the address cannot be fetched, the server
/// answers with an error status, the limits run out (a body larger than maxBytes, announced or sent), or
/// the file cannot be written; no temporary file stays.
int downloadUrlToFile(const char* url, const char* path, const DownloadLimits& limits = {});

} // namespace platform
