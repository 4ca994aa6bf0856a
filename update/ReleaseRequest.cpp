#include "update/ReleaseRequest.h"

#include <QList>

namespace {

// The end of the request (header block and announced body): -1 while incomplete, -2 when malformed.
int requestEnd(const QByteArray& received)
{
    const int headerEnd = received.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return received.size() > ReleaseRequest::kMaxBytes ? -2 : -1;
    if (headerEnd > ReleaseRequest::kMaxBytes)
        return -2;
    int bodyLength = 0;
    for (const QByteArray& line : received.left(headerEnd).split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
            bool number = false;
            bodyLength = line.mid(colon + 1).trimmed().toInt(&number);
            if (!number || bodyLength < 0 || bodyLength > ReleaseRequest::kMaxBytes)
                return -2;
        }
    }
    const int end = headerEnd + 4 + bodyLength;
    return received.size() >= end ? end : -1;
}

} // namespace

ReleaseRequest parseReleaseRequest(const QByteArray& received)
{
    ReleaseRequest request;
    const int end = requestEnd(received);
    if (end == -1)
        return request;
    const QList<QByteArray> requestLine = received.left(received.indexOf("\r\n")).split(' ');
    if (end < 0 || requestLine.size() != 3) {
        request.state = ReleaseRequest::Malformed;
        return request;
    }
    request.state = ReleaseRequest::Complete;
    request.method = requestLine[0];
    const QByteArray& target = requestLine[1];
    const int query = target.indexOf('?');
    request.path = query < 0 ? target : target.left(query);
    return request;
}
