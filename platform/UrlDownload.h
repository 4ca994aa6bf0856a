#pragma once

namespace platform {

/// The largest file a download may bring: a release archive is far smaller.
constexpr long long kMaxDownloadBytes = 256LL << 20;

/// How long a download may take. A server that stops sending, or sends too slowly, ends it as a failure.
struct DownloadLimits
{
    int connectSeconds = 20; // to reach the server
    int stallSeconds = 60;   // without a single byte arriving
    int totalSeconds = 1800; // for the whole transfer
    long long maxBytes = kMaxDownloadBytes;
};

/// Downloads the http or https address `url` into the file at `path`, following redirects. The bytes are
/// written under a temporary name beside `path` and renamed onto it only when complete, so `path` never
/// holds a partial file. 0 when the file was downloaded; -1 when the address cannot be fetched, the server
/// answers with an error status, the limits run out, or the file cannot be written (no temporary file stays).
int downloadUrlToFile(const char* url, const char* path, const DownloadLimits& limits = {});

} // namespace platform
