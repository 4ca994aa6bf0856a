#include "platform/TerminationRequests.h"

#include <windows.h>

#include <QMetaObject>

#include <mutex>

namespace platform {

namespace {

// The object that takes the requests; the handler runs on a thread of the system's own, so the pointer
// is only read and changed under the lock.
std::mutex g_lock;
TerminationRequests* g_active = nullptr;

// How long the handler holds a closing console open for the program to stop: the system ends the
// process when the handler returns, or after about 5 seconds (20 at log-off and shutdown) in any case.
constexpr DWORD kCloseGraceMs = 30000;

BOOL WINAPI noteRequest(DWORD event)
{
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_active)
            return FALSE; // the next handler, the system's, ends the program
        // Ctrl+C reports as a shell reports SIGINT; closing the console, log-off and shutdown as SIGTERM.
        const int status = interrupt ? 130 : 143;
        TerminationRequests* requests = g_active;
        QMetaObject::invokeMethod(
            requests, [requests, status] { emit requests->received(status); }, Qt::QueuedConnection);
    }
    if (!interrupt)
        Sleep(kCloseGraceMs); // returning would end the process at once; it ends when the program is done
    return TRUE;
}

} // namespace

struct TerminationRequests::State
{
    bool active = false;
};

TerminationRequests::TerminationRequests(QObject* parent) : QObject(parent), state_(std::make_unique<State>())
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_active || !SetConsoleCtrlHandler(noteRequest, TRUE))
        return;
    g_active = this;
    state_->active = true;
}

TerminationRequests::~TerminationRequests()
{
    if (!isActive())
        return;
    SetConsoleCtrlHandler(noteRequest, FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    g_active = nullptr;
}

bool TerminationRequests::isActive() const
{
    return state_->active;
}

} // namespace platform
