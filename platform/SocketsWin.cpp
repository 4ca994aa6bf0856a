#include "platform/Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <chrono>
#include <climits>
#include <cstring>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineAfter(int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
}

// Waits until the socket can be written (`forWriting`) or read, or the deadline passes; true when ready.
// While connecting, a connection that fails shows in the exception set: ready too, SO_ERROR tells.
bool waitFor(SOCKET socket, bool forWriting, Clock::time_point deadline, bool connecting = false)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    const long long wait = left > 0 ? left : 0;
    timeval limit{static_cast<long>(wait / 1000000), static_cast<long>(wait % 1000000)};
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    // The first argument is ignored by Windows Sockets.
    return select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr,
                  connecting ? &failed : nullptr, &limit) > 0;
}

int chunkSize(std::size_t size)
{
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

SOCKET socketOf(std::intptr_t handle)
{
    return static_cast<SOCKET>(handle);
}

bool wouldBlock()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

} // namespace

// Windows Sockets 1.1, as the update's exchanges have always asked for; each start is matched by one
// cleanup, so exchanges on several threads keep the library started while any of them runs.
SocketLibrary::SocketLibrary()
{
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

SocketLibrary::~SocketLibrary()
{
    if (started_)
        WSACleanup();
}

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
    std::memcpy(address.bytes, &ipv4->sin_addr.s_addr, sizeof address.bytes); // network order
    freeaddrinfo(found);
    return true;
}

TcpSocket::TcpSocket() : handle_(static_cast<std::intptr_t>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)))
{
    // Programs started with inherited handles (the restart after an update) must not keep it open.
    if (isOpen())
        SetHandleInformation(reinterpret_cast<HANDLE>(socketOf(handle_)), HANDLE_FLAG_INHERIT, 0);
}

TcpSocket::~TcpSocket()
{
    if (isOpen())
        closesocket(socketOf(handle_));
}

bool TcpSocket::isOpen() const
{
    return socketOf(handle_) != INVALID_SOCKET;
}

bool TcpSocket::connectTo(const Ipv4Address& address, std::uint16_t port, int timeoutMs)
{
    if (!isOpen())
        return false;
    const SOCKET s = socketOf(handle_);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    std::memcpy(&peer.sin_addr.s_addr, address.bytes, sizeof address.bytes);

    // Connect without blocking, so that an address that never answers costs the time limit, not the
    // system's retries. The socket stays non-blocking: sends and reads wait in select() with their limits.
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return false;
    if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    if (!wouldBlock() || !waitFor(s, true, deadlineAfter(timeoutMs), true))
        return false;
    int error = 0;
    int length = sizeof error;
    return getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

bool TcpSocket::sendAll(const char* data, std::size_t size, int timeoutMs)
{
    if (!isOpen())
        return false;
    const SOCKET s = socketOf(handle_);
    const auto deadline = deadlineAfter(timeoutMs);
    while (size > 0) {
        if (!waitFor(s, true, deadline))
            return false;
        const int sent = send(s, data, chunkSize(size), 0);
        if (sent == SOCKET_ERROR) {
            if (wouldBlock())
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
    const SOCKET s = socketOf(handle_);
    const auto deadline = deadlineAfter(timeoutMs);
    for (;;) {
        if (!waitFor(s, false, deadline))
            return -1;
        const int received = recv(s, buffer, chunkSize(size), 0);
        if (received != SOCKET_ERROR)
            return received;
        if (!wouldBlock())
            return -1;
    }
}

} // namespace platform
