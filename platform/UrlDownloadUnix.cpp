#include "platform/UrlDownload.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

namespace platform {

namespace {

struct CurlDeleter
{
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Where the body goes, and how much of it may still come.
struct Sink
{
    std::FILE* file;
    long long room;
};

// A short count makes libcurl end the transfer with an error: the body outgrew its limit, or the disk is
// full.
std::size_t writeToFile(char* data, std::size_t size, std::size_t count, void* sink)
{
    auto* to = static_cast<Sink*>(sink);
    const std::size_t bytes = size * count;
    if (static_cast<unsigned long long>(to->room) < bytes)
        return 0;
    to->room -= static_cast<long long>(bytes);
    return std::fwrite(data, 1, bytes, to->file);
}

bool fetch(const char* url, std::FILE* file, const DownloadLimits& limits)
{
    if (limits.maxBytes < 0)
        return false;
    Sink sink{file, limits.maxBytes};
    static std::once_flag started;
    std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return false;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L); // an error page is not the file
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);    // called from a worker thread: no alarm signals
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(limits.connectSeconds));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stallSeconds));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(limits.totalSeconds));
    // A larger announced length ends the transfer before the body; the sink counts what actually comes.
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, writeToFile);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    return curl_easy_perform(c) == CURLE_OK;
}

} // namespace

int downloadUrlToFile(const char* url, const char* path, const DownloadLimits& limits)
{
    if (!url || !path || !*path)
        return -1;
    std::string temporary = std::string(path) + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return -1;
    std::unique_ptr<std::FILE, FileCloser> file(fdopen(fd, "wb"));
    if (!file) {
        close(fd);
        std::remove(temporary.c_str());
        return -1;
    }
    bool complete = fetch(url, file.get(), limits);
    complete = std::fclose(file.release()) == 0 && complete;
    if (complete && std::rename(temporary.c_str(), path) == 0)
        return 0;
    std::remove(temporary.c_str());
    return -1;
}

} // namespace platform
