#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A minimal, blocking HTTP/1.0 client for the version check: one form POST per call, no redirects, no
// chunked transfer, no decompression.

/// Results of sendPostRequest().
enum HttpResult : int
{
    kHttpOk = 0,               // the status line said 200; the response holds the body
    kHttpSocketFailed = -100,  // the socket could not be created
    kHttpConnectFailed = -101, // the server refused, could not be reached, or not in time
    kHttpNotAccepted = -102,   // the status line said anything but 200; the response is empty
    kHttpResolveFailed = -103, // the host name does not resolve; nothing was sent
};

/// Where and how long: the program always talks to port 80; tests choose a loopback port.
struct HttpExchangeOptions
{
    std::uint16_t port = 80;
    /// The whole exchange, from connecting to the last byte, ends within this time: a server that keeps
    /// the connection open or sends slowly cannot hold the caller longer.
    int timeoutMs = 15000;
};

/// Posts `body` (form-encoded text, sent as it is) to `path` on `host` and appends the reply to `response`.
/// The reply counts as accepted only when its status line says 200. Then `response` is emptied and
/// receives the body, read until the reply's Content-Length, the peer's close or the time limit; each
/// received piece is cut at its first NUL byte, as the body is text. Returns an HttpResult.
int sendPostRequest(const char* host, const char* path, const char* body, std::string& response,
                    const HttpExchangeOptions& options = {});

/// Whether the first line of a reply's header block is an HTTP status line with the status 200.
bool statusLineIsOk(std::string_view header);
