#pragma once

// Servers on loopback for the update tests: the real release server as a process of its own, a raw
// server that answers one connection with bytes of the test's choosing, and an HTTP server that answers
// each path with a body of the test's choosing.

#include <QByteArray>
#include <QByteArrayList>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define SOCK_CLOEXEC 0
#define MSG_NOSIGNAL 0
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace updatetest {

#ifdef _WIN32
// Windows Sockets need starting once in the test program; a socket there is closed by closesocket().
inline const bool kSocketsStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
inline int closeSocket(int fd) { return closesocket(static_cast<SOCKET>(fd)); }
inline int poll(pollfd* fds, unsigned long count, int timeoutMs) { return WSAPoll(fds, count, timeoutMs); }
#else
inline int closeSocket(int fd) { return ::close(fd); }
#endif

inline int listeningSocket(quint16& port)
{
    const int fd = static_cast<int>(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 4) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            closeSocket(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

/// A loopback port where nothing listens: connections to it are refused at once.
inline quint16 deadPort()
{
    quint16 port = 0;
    const int fd = listeningSocket(port);
    closeSocket(fd);
    return port;
}

/// Accepts one connection, records the request (header block and announced body), sends `parts` with a
/// pause between them, then keeps the connection open for `holdOpenMs` before closing it. Every wait is
/// bounded; the destructor waits for the server to finish.
class RawReplyServer
{
  public:
    RawReplyServer(QByteArrayList parts, int holdOpenMs) : parts_(std::move(parts)), holdOpenMs_(holdOpenMs)
    {
        fd_ = listeningSocket(port_);
        thread_ = std::thread([this] { run(); });
    }
    ~RawReplyServer()
    {
        finish();
        if (fd_ >= 0)
            closeSocket(fd_);
    }
    quint16 port() const { return port_; }
    /// Waits until the connection is closed and returns the request as received.
    QByteArray finish()
    {
        if (thread_.joinable())
            thread_.join();
        return request_;
    }

  private:
    void run()
    {
        pollfd waiting{fd_, POLLIN, 0};
        if (fd_ < 0 || poll(&waiting, 1, 5000) != 1)
            return;
        const int peer = static_cast<int>(accept(fd_, nullptr, nullptr));
        if (peer < 0)
            return;
        char buffer[4096];
        while (!requestComplete()) {
            pollfd reading{peer, POLLIN, 0};
            const ssize_t count = poll(&reading, 1, 3000) == 1 ? recv(peer, buffer, sizeof buffer, 0) : -1;
            if (count <= 0)
                break;
            request_.append(buffer, static_cast<int>(count));
        }
        for (int i = 0; i < parts_.size(); ++i) {
            if (i > 0) // the client reads each part apart
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
            send(peer, parts_[i].constData(), static_cast<size_t>(parts_[i].size()), MSG_NOSIGNAL);
        }
        // Hold the connection open until the time is up or the client has closed its end.
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(holdOpenMs_);
        for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
            pollfd reading{peer, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            if (poll(&reading, 1, static_cast<int>(left)) == 1 && recv(peer, buffer, sizeof buffer, 0) <= 0)
                break;
        }
        closeSocket(peer);
    }

    bool requestComplete() const
    {
        const int end = request_.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const QRegularExpressionMatch length = QRegularExpression(QStringLiteral("Content-Length: (\\d+)"))
                                                   .match(QString::fromLatin1(request_.left(end)));
        return request_.size() >= end + 4 + (length.hasMatch() ? length.captured(1).toInt() : 0);
    }

    QByteArrayList parts_;
    int holdOpenMs_;
    quint16 port_ = 0;
    int fd_ = -1;
    QByteArray request_;
    std::thread thread_;
};

/// An HTTP/1.0 server that answers every request for a path (the query left aside) with its body from
/// `bodies`, and 404 for any other path, closing each connection after its reply, until it goes. A body
/// that starts with "HTTP/" is sent as the whole reply, status line and headers included; kEndless is a
/// body without a length that never ends. It counts the requests it answered.
inline const QByteArray kEndless = "<endless body>";

class CannedHttpServer
{
  public:
    explicit CannedHttpServer(QMap<QByteArray, QByteArray> bodies) : bodies_(std::move(bodies))
    {
        fd_ = listeningSocket(port_);
        thread_ = std::thread([this] { run(); });
    }
    ~CannedHttpServer()
    {
        stopping_ = true;
        thread_.join();
        if (fd_ >= 0)
            closeSocket(fd_);
    }
    quint16 port() const { return port_; }
    int requests() const { return requests_; }

  private:
    void run()
    {
        while (!stopping_ && fd_ >= 0) {
            pollfd waiting{fd_, POLLIN, 0};
            if (poll(&waiting, 1, 50) != 1)
                continue;
            const int peer = static_cast<int>(accept(fd_, nullptr, nullptr));
            if (peer >= 0) {
                answer(peer);
                closeSocket(peer);
            }
        }
    }
    void answer(int peer)
    {
        QByteArray request;
        char buffer[4096];
        while (!request.contains("\r\n\r\n")) {
            pollfd reading{peer, POLLIN, 0};
            const ssize_t count = poll(&reading, 1, 3000) == 1 ? recv(peer, buffer, sizeof buffer, 0) : -1;
            if (count <= 0)
                return;
            request.append(buffer, static_cast<int>(count));
        }
        QByteArray path = request.left(request.indexOf("\r\n")).split(' ').value(1);
        path = path.left(path.indexOf('?') < 0 ? path.size() : path.indexOf('?'));
        const auto found = bodies_.constFind(path);
        const QByteArray body = found == bodies_.constEnd() ? QByteArray("not found") : *found;
        if (body == kEndless) {
            const QByteArray header = "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n";
            const QByteArray piece(64 * 1024, 'z');
            bool sent = send(peer, header.constData(), static_cast<size_t>(header.size()), MSG_NOSIGNAL) > 0;
            while (sent && !stopping_) // until the client gives up
                sent = send(peer, piece.constData(), static_cast<size_t>(piece.size()), MSG_NOSIGNAL) > 0;
            ++requests_;
            return;
        }
        const QByteArray reply =
            body.startsWith("HTTP/")
                ? body
                : (found == bodies_.constEnd() ? "HTTP/1.0 404 Not Found" : "HTTP/1.0 200 OK") +
                      QByteArray("\r\nContent-Length: ") + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body;
        for (qsizetype sent = 0; sent < reply.size();) {
            const ssize_t count = send(peer, reply.constData() + sent, static_cast<size_t>(reply.size() - sent),
                                       MSG_NOSIGNAL);
            if (count <= 0)
                return;
            sent += count;
        }
        ++requests_;
    }

    QMap<QByteArray, QByteArray> bodies_;
    quint16 port_ = 0;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

/// quillmark-release-server serving `folder` on a free loopback port, for as long as this object lives.
class ReleaseServerProcess
{
  public:
    explicit ReleaseServerProcess(const QString& folder)
    {
        process_.start(QStringLiteral(QUILLMARK_RELEASE_SERVER),
                       {QStringLiteral("serve"), folder, QStringLiteral("--port"), QStringLiteral("0"),
                        QStringLiteral("--listen"), QStringLiteral("127.0.0.1")});
        // Generous: the first start of a program under Wine, in a fresh prefix, takes seconds.
        if (!process_.waitForStarted(30000))
            return;
        QByteArray line;
        while (!line.endsWith('\n') && process_.waitForReadyRead(30000))
            line += process_.readAllStandardOutput();
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral(":(\\d+)/$")).match(QString::fromUtf8(line.trimmed()));
        port_ = match.hasMatch() ? static_cast<quint16>(match.captured(1).toUInt()) : 0;
    }
    ~ReleaseServerProcess()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }
    /// The port it listens on; 0 when it did not start.
    quint16 port() const { return port_; }

  private:
    QProcess process_;
    quint16 port_ = 0;
};

} // namespace updatetest
