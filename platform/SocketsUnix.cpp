#include "platform/Sockets.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until the socket is ready for `events` or the deadline passes; true when ready. Signals that
// interrupt the wait do not shorten or lengthen it.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, remainingMs(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

Clock::time_point deadlineAfter(int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
}

} // namespace

SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

bool resolveIpv4(const char* host, Ipv4Address& address)
{
    if (!host)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return false;
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    std::memcpy(address.bytes, &ipv4->sin_addr.s_addr,
                sizeof address.bytes); // network order: most significant first
    freeaddrinfo(found);
    return true;
}

TcpSocket::TcpSocket() : handle_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)) {}

TcpSocket::~TcpSocket()
{
    if (isOpen())
        close(static_cast<int>(handle_));
}

bool TcpSocket::isOpen() const
{
    return handle_ >= 0;
}

bool TcpSocket::connectTo(const Ipv4Address& address, std::uint16_t port, int timeoutMs)
{
    if (!isOpen())
        return false;
    const int fd = static_cast<int>(handle_);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    std::memcpy(&peer.sin_addr.s_addr, address.bytes, sizeof address.bytes);

    // Connect without blocking, so that an address that never answers costs the time limit, not the
    // system's minutes of retries.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!connected && errno == EINPROGRESS && waitFor(fd, POLLOUT, deadlineAfter(timeoutMs))) {
        int error = 0;
        socklen_t length = sizeof error;
        connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    return connected && fcntl(fd, F_SETFL, flags) == 0;
}

bool TcpSocket::sendAll(const char* data, std::size_t size, int timeoutMs)
{
    if (!isOpen())
        return false;
    const int fd = static_cast<int>(handle_);
    const auto deadline = deadlineAfter(timeoutMs);
    while (size > 0) {
        if (!waitFor(fd, POLLOUT, deadline))
            return false;
        // MSG_NOSIGNAL: a peer that has gone gives an error here, not a SIGPIPE that ends the program.
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

long TcpSocket::receive(char* buffer, std::size_t size, int timeoutMs)
{
    if (!isOpen())
        return -1;
    const int fd = static_cast<int>(handle_);
    const auto deadline = deadlineAfter(timeoutMs);
    for (;;) {
        if (!waitFor(fd, POLLIN, deadline))
            return -1;
        const ssize_t received = recv(fd, buffer, size, MSG_DONTWAIT);
        if (received >= 0)
            return static_cast<long>(received);
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
    }
}

} // namespace platform
