#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

/// Keeps the system's socket library started while it lives (Windows Sockets 1.1 on Windows; sockets need no
/// start here). Each exchange holds one of its own, so exchanges share nothing.
class SocketLibrary
{
  public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

  private:
    [[maybe_unused]] bool started_ = false; // whether this object's start worked, so that only it is undone
};

/// An IPv4 address, most significant byte first.
struct Ipv4Address
{
    std::uint8_t bytes[4] = {};
};

/// The first IPv4 address of `host`, a name or dotted numbers; false when it does not resolve.
bool resolveIpv4(const char* host, Ipv4Address& address);

/// An IPv4 TCP socket, closed when it goes. No call waits longer than the time limit it is given, and a
/// connection that breaks while sending never raises a signal.
class TcpSocket
{
  public:
    /// Opens the socket; isOpen() tells whether that worked.
    TcpSocket();
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    bool isOpen() const;
    /// Connects within `timeoutMs` milliseconds; false when refused, unreachable or too slow.
    bool connectTo(const Ipv4Address& address, std::uint16_t port, int timeoutMs);
    /// Sends all `size` bytes within `timeoutMs`; false when the connection fails or stalls.
    bool sendAll(const char* data, std::size_t size, int timeoutMs);
    /// Waits at most `timeoutMs` for bytes and reads up to `size` of them: their count; 0 when the peer
    /// closed the connection; -1 on an error or when nothing arrived in time.
    long receive(char* buffer, std::size_t size, int timeoutMs);

  private:
    std::intptr_t handle_;
};

} // namespace platform
