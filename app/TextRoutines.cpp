#include "app/TextRoutines.h"

#include <algorithm>
#include <cstring>

namespace {

// The first occurrence, or the last one counted without overlaps: "aaa" holds "aa" once, at 0.
const char* findMarker(const char* text, const char* marker, bool fromLast)
{
    const char* found = std::strstr(text, marker);
    const std::size_t length = std::strlen(marker);
    if (!fromLast || !found || length == 0) // an empty marker would match at the same place forever
        return found;
    for (const char* next = std::strstr(found + length, marker); next;
         next = std::strstr(next + length, marker))
        found = next;
    return found;
}

// memmove, as the output may be the text the result is cut from.
void copyCut(char* output, std::size_t outputSize, const char* first, std::size_t length)
{
    if (outputSize == 0)
        return;
    const std::size_t n = std::min(length, outputSize - 1);
    std::memmove(output, first, n);
    output[n] = '\0';
}

int notFound(char* output, std::size_t outputSize)
{
    if (outputSize > 0)
        output[0] = '\0';
    return -1;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

int TextAfter(char* output, std::size_t outputSize, const char* text, const char* marker, int keepMarker,
              bool fromLast)
{
    const char* found = findMarker(text, marker, fromLast);
    if (!found)
        return notFound(output, outputSize);
    const char* first = keepMarker > 0 ? found : found + std::strlen(marker);
    copyCut(output, outputSize, first, std::strlen(first));
    return 1;
}

int TextBefore(char* output, std::size_t outputSize, const char* text, const char* marker, int keepMarker,
               bool fromLast)
{
    const char* found = findMarker(text, marker, fromLast);
    if (!found)
        return notFound(output, outputSize);
    const char* last = keepMarker > 0 ? found + std::strlen(marker) : found;
    copyCut(output, outputSize, text, static_cast<std::size_t>(last - text));
    return 1;
}

int TextBetween(char* output, std::size_t outputSize, const char* text, const char* startMarker,
                const char* endMarker, int keepStart, int keepEnd, bool startFromLast, bool endFromLast)
{
    // The end marker is looked for behind the start marker even when that is kept: an end marker that
    // also occurs inside the start marker ("<a>" and ">") must not end the result inside it.
    const char* start = findMarker(text, startMarker, startFromLast);
    if (!start)
        return notFound(output, outputSize);
    const char* behindStart = start + std::strlen(startMarker);
    const char* end = findMarker(behindStart, endMarker, endFromLast);
    if (!end)
        return notFound(output, outputSize);
    const char* first = keepStart > 0 ? start : behindStart;
    const char* last = keepEnd > 0 ? end + std::strlen(endMarker) : end;
    copyCut(output, outputSize, first, static_cast<std::size_t>(last - first));
    return 1;
}

void TrimBlanks(char* text)
{
    const char* first = text;
    while (isBlank(*first))
        ++first;
    std::size_t length = std::strlen(first);
    while (length > 0 && isBlank(first[length - 1]))
        --length;
    std::memmove(text, first, length);
    text[length] = '\0';
}
