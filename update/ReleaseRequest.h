#pragma once

#include <QByteArray>

/// What the release server has received on a connection, read as one HTTP request.
struct ReleaseRequest
{
    enum State
    {
        Incomplete, // the header block, or the body it announces, has not all arrived
        Malformed,  // answered with 400: no request line of three parts, a bad length, or a header block
                    // or body longer than kMaxBytes
        Complete,
    };
    static constexpr int kMaxBytes = 16 * 1024; // a request line, headers and a form body

    State state = Incomplete;
    QByteArray method; // "GET", "POST", ...
    QByteArray path;   // the request target without its query
};

/// Reads `received`, the bytes of a connection so far.
ReleaseRequest parseReleaseRequest(const QByteArray& received);
