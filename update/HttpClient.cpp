#include "update/HttpClient.h"

#include "platform/Sockets.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;

// Neither a header block nor the version reply comes near these sizes; they only keep a faulty server
// from filling the memory before the time limit ends the exchange.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
constexpr std::size_t kNoLength = std::numeric_limits<std::size_t>::max();

class Deadline
{
  public:
    explicit Deadline(int timeoutMs) : end_(Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0)))
    {
    }
    int remainingMs() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

  private:
    Clock::time_point end_;
};

std::string requestText(const char* host, const char* path, const char* body)
{
    std::string request = "POST ";
    request += path;
    request += " HTTP/1.0\r\n";
    request += "Accept: */*\r\n";
    request += "User-Agent: Mozilla/4.0\r\n";
    request += "Content-Length: " + std::to_string(std::strlen(body)) + "\r\n";
    request += "Accept-Encoding: gzip, deflate\r\n";
    request += "Host: ";
    request += host;
    request += "\r\n";
    request += "Content-Type: application/x-www-form-urlencoded\r\n";
    request += "Connection: Keep-Alive\r\n";
    request += "\r\n";
    request += body;
    return request;
}

// The value of the first Content-Length line of a header block, or kNoLength when it has none that is a
// plain decimal number.
std::size_t contentLength(const std::string& header)
{
    static const char kName[] = "content-length:";
    const std::size_t nameLength = sizeof kName - 1;
    for (std::size_t line = 0; line < header.size();) {
        const std::size_t end = std::min(header.find('\n', line), header.size());
        if (end - line > nameLength &&
            std::equal(kName, kName + nameLength, header.begin() + static_cast<std::ptrdiff_t>(line),
                       [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); })) {
            std::size_t i = line + nameLength;
            while (i < end && (header[i] == ' ' || header[i] == '\t'))
                ++i;
            std::size_t value = 0;
            const std::size_t first = i;
            for (; i < end && std::isdigit(static_cast<unsigned char>(header[i])); ++i) {
                if (value > (kNoLength - 9) / 10)
                    return kNoLength;
                value = value * 10 + static_cast<std::size_t>(header[i] - '0');
            }
            while (i < end && (header[i] == ' ' || header[i] == '\t' || header[i] == '\r'))
                ++i;
            return i > first && i == end ? value : kNoLength;
        }
        line = end + 1;
    }
    return kNoLength;
}

} // namespace

bool statusLineIsOk(std::string_view header)
{
    // "HTTP/1.0 200 OK": the protocol, one space, the three digits, then a space or the line's end.
    const std::size_t lineEnd = header.find('\n');
    if (lineEnd == std::string_view::npos)
        return false; // cut short: the status is not known
    const std::string_view line = header.substr(0, lineEnd);
    if (line.size() < 12 || line.substr(0, 5) != "HTTP/")
        return false;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.substr(space + 1, 3) != "200")
        return false;
    const std::size_t after = space + 4;
    return after == line.size() || line[after] == ' ' || line[after] == '\r';
}

int sendPostRequest(const char* host, const char* path, const char* body, std::string& response,
                    const HttpExchangeOptions& options)
{
    const Deadline deadline(options.timeoutMs);
    platform::SocketLibrary library;
    platform::TcpSocket socket;
    if (!socket.isOpen())
        return kHttpSocketFailed;
    platform::Ipv4Address address;
    if (!platform::resolveIpv4(host, address))
        return kHttpResolveFailed;
    if (!socket.connectTo(address, options.port, deadline.remainingMs()))
        return kHttpConnectFailed;

    // One write of the whole request: the bytes on the wire are those of the header lines in order. A
    // failed send is not looked at; a broken connection shows in the reads below.
    const std::string request = requestText(host, path ? path : "", body ? body : "");
    socket.sendAll(request.data(), request.size(), deadline.remainingMs());

    // Header block, one byte at a time, so that nothing of the body is read with it.
    std::size_t lineBytes = 0; // bytes of the current line other than CR
    const std::size_t headerStart = response.size();
    char byte = 0;
    while (response.size() - headerStart < kMaxHeaderBytes &&
           socket.receive(&byte, 1, deadline.remainingMs()) > 0) {
        response += byte;
        if (byte != '\n') {
            lineBytes += byte != '\r';
            continue;
        }
        if (lineBytes == 0)
            break; // the empty line that closes the header block
        lineBytes = 0;
    }
    // Only the status line tells the status: a date or a length holding "200" says nothing.
    const bool accepted = statusLineIsOk(std::string_view(response).substr(headerStart));
    const std::size_t expected = contentLength(response.substr(headerStart));
    response.clear();
    if (!accepted)
        return kHttpNotAccepted;

    // Body, in pieces of at most 1023 bytes, each cut at its first NUL.
    std::size_t received = 0;
    char piece[1024];
    while (received < expected && received < kMaxBodyBytes) {
        const std::size_t want = std::min<std::size_t>(1023, std::min(expected, kMaxBodyBytes) - received);
        const long count = socket.receive(piece, want, deadline.remainingMs());
        if (count <= 0)
            break;
        received += static_cast<std::size_t>(count);
        piece[count] = '\0';
        response += piece;
    }
    return kHttpOk;
}
