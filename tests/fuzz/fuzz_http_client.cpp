// The HTTP client of the version check against a loopback server that answers each request with the
// input's bytes and closes the connection: whatever comes back, the client returns a result of its own
// and a body no longer than what was sent, and the version reply is then read as the update reads it.

#include "update/HttpClient.h"
#include "update/UpdateSteps.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Answers one connection at a time with the reply set for it, on a thread of its own.
class ReplyServer
{
  public:
    ReplyServer()
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd_, 8) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        port_ = ntohs(address.sin_port);
        std::thread([this] { run(); }).detach(); // serves until the process ends
    }
    std::uint16_t port() const { return port_; }
    void setReply(std::string reply)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = std::move(reply);
    }

  private:
    void run()
    {
        for (;;) {
            const int peer = accept(fd_, nullptr, nullptr);
            if (peer < 0)
                continue;
            std::string request;
            char buffer[2048];
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd reading{peer, POLLIN, 0};
                const ssize_t count =
                    poll(&reading, 1, 2000) == 1 ? recv(peer, buffer, sizeof buffer, 0) : -1;
                if (count <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(count));
            }
            std::string reply;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                reply = reply_;
            }
            send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
            shutdown(peer, SHUT_WR);
            close(peer);
        }
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::mutex mutex_;
    std::string reply_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ReplyServer* const server = new ReplyServer; // lives as long as the process
    const std::string reply(reinterpret_cast<const char*>(data), size);
    server->setReply(reply);

    // Text the caller left in the response takes part in the search for "200", as in the original.
    std::string response = size % 2 ? "200" : "";
    const int result = sendPostRequest("127.0.0.1", "/version", "", response, {server->port(), 3000});
    if (result != kHttpOk && result != kHttpNotAccepted)
        std::abort(); // the server is always there
    if (response.size() > reply.size() || (result == kHttpNotAccepted && !response.empty()))
        std::abort();
    char digest[33];
    GetJsonValue(digest, sizeof digest, response.c_str(), "Quillmark");
    return 0;
}
