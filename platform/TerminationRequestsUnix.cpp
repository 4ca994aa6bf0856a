#include "platform/TerminationRequests.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

// The write end of the pipe, for the handler. A signal handler may only touch such a plain value.
volatile sig_atomic_t g_writeEnd = -1;

// Async-signal-safe: one byte, the signal's number, into the pipe; errno as it was.
void noteSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (g_writeEnd >= 0)
        (void)!::write(g_writeEnd, &number, 1); // a full pipe already holds a request
    errno = saved;
}

} // namespace

struct TerminationRequests::State
{
    int pipe[2] = {-1, -1};
    struct sigaction previous[std::size(kSignals)] = {};
    std::unique_ptr<QSocketNotifier> notifier;
};

TerminationRequests::TerminationRequests(QObject* parent) : QObject(parent), state_(std::make_unique<State>())
{
    if (g_writeEnd >= 0 || ::pipe2(state_->pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        state_->pipe[0] = state_->pipe[1] = -1;
        return;
    }
    g_writeEnd = state_->pipe[1];
    state_->notifier = std::make_unique<QSocketNotifier>(state_->pipe[0], QSocketNotifier::Read);
    connect(state_->notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        while (::read(state_->pipe[0], &number, 1) == 1)
            emit received(128 + number);
    });

    struct sigaction action = {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the program's own blocking calls go on as if nothing happened
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &action, &state_->previous[i]);
}

TerminationRequests::~TerminationRequests()
{
    if (!isActive())
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &state_->previous[i], nullptr);
    g_writeEnd = -1;
    state_->notifier.reset();
    ::close(state_->pipe[0]);
    ::close(state_->pipe[1]);
}

bool TerminationRequests::isActive() const
{
    return state_->pipe[0] >= 0;
}

} // namespace platform
