#include "platform/UrlDownload.h"

#include "platform/WidePath.h"

#include <windows.h>

#include <urlmon.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// What the download thread and the waiting caller share. The caller may give up on a transfer that
// the system does not end (a server that stops sending raises no event to abort in); the download
// thread then finishes alone and removes the temporary file itself.
struct Transfer
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false; // read by the callback too, under the mutex
    HRESULT result = E_FAIL;
    bool reached = false;          // the server answered the request
    DWORD status = 0;              // its HTTP status, when it told one
    Clock::time_point lastEvent{}; // the latest sign of life
    unsigned long bytes = 0;
    unsigned long announcedBytes = 0;
};

// The caller's side of the system's download: progress, the HTTP status, and the point at which the
// transfer is stopped (an error status, too many bytes, or the caller giving up). Lives on the download
// thread's stack for the whole URLDownloadToFileW call, so references are counted but never free it.
class DownloadWatch final : public IBindStatusCallback, public IHttpNegotiate, public IServiceProvider
{
  public:
    DownloadWatch(Transfer& transfer, long long maxBytes) : transfer_(transfer), maxBytes_(maxBytes) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IBindStatusCallback))
            *object = static_cast<IBindStatusCallback*>(this);
        else if (IsEqualIID(id, IID_IHttpNegotiate))
            *object = static_cast<IHttpNegotiate*>(this);
        else if (IsEqualIID(id, IID_IServiceProvider))
            *object = static_cast<IServiceProvider*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }

    // The system asks for the HTTP negotiation through the service provider as well.
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID, REFIID id, void** object) override
    {
        return QueryInterface(id, object);
    }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return noteEvent(); }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR) override
    {
        std::lock_guard<std::mutex> lock(transfer_.mutex);
        transfer_.lastEvent = Clock::now();
        if (statusCode == BINDSTATUS_SENDINGREQUEST || statusCode == BINDSTATUS_BEGINDOWNLOADDATA ||
            statusCode == BINDSTATUS_DOWNLOADINGDATA || statusCode == BINDSTATUS_ENDDOWNLOADDATA)
            transfer_.reached = true;
        if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
            statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
            transfer_.bytes = progress;
            transfer_.announcedBytes = progressMax;
        }
        return stopRequested() ? E_ABORT : S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                   LPWSTR* additionalHeaders) override
    {
        if (additionalHeaders)
            *additionalHeaders = nullptr;
        return noteEvent();
    }
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR, LPCWSTR, LPWSTR* additionalHeaders) override
    {
        if (additionalHeaders)
            *additionalHeaders = nullptr;
        std::lock_guard<std::mutex> lock(transfer_.mutex);
        transfer_.lastEvent = Clock::now();
        transfer_.reached = true;
        transfer_.status = status;
        return stopRequested() ? E_ABORT : S_OK;
    }

  private:
    HRESULT noteEvent()
    {
        std::lock_guard<std::mutex> lock(transfer_.mutex);
        transfer_.lastEvent = Clock::now();
        return stopRequested() ? E_ABORT : S_OK;
    }

    // Under the transfer's lock. An error page is not the file; a file larger than the limit, announced
    // or arriving, is not wanted.
    bool stopRequested() const
    {
        return transfer_.abandoned || transfer_.status >= 400 ||
               static_cast<long long>(transfer_.bytes) > maxBytes_ ||
               static_cast<long long>(transfer_.announcedBytes) > maxBytes_;
    }

    Transfer& transfer_;
    const long long maxBytes_;
    std::atomic<ULONG> references_{1};
};

void download(const std::shared_ptr<Transfer>& transfer, const std::wstring& url, const std::wstring& file,
              long long maxBytes)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT result = E_FAIL;
    {
        DownloadWatch watch(*transfer, maxBytes);
        result = URLDownloadToFileW(nullptr, url.c_str(), file.c_str(), 0, &watch);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    std::lock_guard<std::mutex> lock(transfer->mutex);
    transfer->done = true;
    transfer->result = result;
    if (transfer->abandoned)
        DeleteFileW(file.c_str()); // nobody waits for it any more
    transfer->finished.notify_all();
}

// Whether the transfer broke one of the time limits by `now`.
bool outOfTime(const Transfer& transfer, const DownloadLimits& limits, Clock::time_point start,
               Clock::time_point now)
{
    using std::chrono::seconds;
    if (now - start > seconds(limits.totalSeconds))
        return true;
    if (!transfer.reached)
        return now - start > seconds(limits.connectSeconds);
    return now - transfer.lastEvent > seconds(limits.stallSeconds);
}

// A new, empty file beside `target` that nobody else uses: target + ".XXXXXXXX". Empty when none could
// be made.
std::wstring createTemporarySibling(const std::wstring& target)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[16];
        swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%08x", static_cast<unsigned>(random()));
        const std::wstring candidate = target + suffix;
        const HANDLE file = CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return candidate;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return {};
    }
    return {};
}

// Whether the downloaded file is whole and within the size limit. The system reports a connection that
// ended before the announced length as a success: such a file is shorter than announced.
bool fileComplete(const std::wstring& file, unsigned long announcedBytes, long long maxBytes)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data))
        return false;
    const long long size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return size <= maxBytes && size >= static_cast<long long>(announcedBytes);
}

} // namespace

int downloadUrlToFile(const char* url, const char* path, const DownloadLimits& limits)
{
    if (!url || !path || !*path)
        return -1;
    const std::wstring wideUrl = utf16FromUtf8(url);
    const std::wstring target = widePath(path);
    if (wideUrl.empty() || target.empty())
        return -1;
    if (wideUrl.compare(0, 7, L"http://") != 0 && wideUrl.compare(0, 8, L"https://") != 0)
        return -1; // file:, ftp: and the like are no update server's
    const std::wstring temporary = createTemporarySibling(target);
    if (temporary.empty())
        return -1;

    auto transfer = std::make_shared<Transfer>();
    const Clock::time_point start = Clock::now();
    transfer->lastEvent = start;
    std::thread worker(download, transfer, wideUrl, temporary, limits.maxBytes);

    std::unique_lock<std::mutex> lock(transfer->mutex);
    while (!transfer->done) {
        transfer->finished.wait_for(lock, std::chrono::milliseconds(200));
        if (!transfer->done && outOfTime(*transfer, limits, start, Clock::now())) {
            transfer->abandoned = true; // the callback stops the transfer at its next event
            break;
        }
    }
    if (!transfer->done) {
        // The system ends a transfer only at its own events; one that is stuck finishes on its own
        // thread later, which then removes the temporary file.
        transfer->finished.wait_for(lock, std::chrono::seconds(2), [&] { return transfer->done; });
    }
    if (!transfer->done) {
        // The system copies a download into place only at its end: the file is still the empty one made
        // above, and goes now, so that nothing stays even when the program ends before the transfer.
        DeleteFileW(temporary.c_str());
        lock.unlock();
        worker.detach();
        return -1;
    }
    const bool complete = !transfer->abandoned && transfer->result == S_OK && transfer->status < 400;
    const unsigned long announcedBytes = transfer->announcedBytes;
    lock.unlock();
    worker.join();

    if (complete && fileComplete(temporary, announcedBytes, limits.maxBytes) &&
        MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 0;
    DeleteFileW(temporary.c_str());
    return -1;
}

} // namespace platform
