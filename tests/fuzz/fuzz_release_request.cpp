// The release server's reading of what a connection sent: any bytes give a verdict without a crash, a
// complete request has a method and a path without its query, and more bytes never turn a malformed
// request into an incomplete one.

#include "FuzzSupport.h"

#include "update/ReleaseRequest.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray received(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const ReleaseRequest request = parseReleaseRequest(received);
    if (request.state == ReleaseRequest::Complete && request.path.contains('?'))
        std::abort();
    if (request.state != ReleaseRequest::Complete && (!request.method.isEmpty() || !request.path.isEmpty()))
        std::abort();
    // The server reads a connection in pieces: once a prefix is judged, the whole is judged the same way
    // (a request is served or refused at its first verdict, whatever follows).
    const int cut = size ? data[0] % (received.size() + 1) : 0;
    const ReleaseRequest early = parseReleaseRequest(received.left(cut));
    if (early.state == ReleaseRequest::Malformed && request.state == ReleaseRequest::Incomplete)
        std::abort();
    return 0;
}
