#pragma once

#include <cstddef>

// Routines that cut NUL-terminated 8-bit texts at a marker, used by the settings file and the command
// line. Each writes its result into a caller buffer of `outputSize` bytes (at least 1): a result that
// does not fit is cut to `outputSize - 1` bytes, so the output is always terminated and nothing is
// written past it. The output may be the text itself. A `keep...` flag greater than 0 keeps the marker
// in the result; `fromLast` picks the last occurrence, found by restarting each search just behind the
// previous match, so overlapping matches do not count.

/// Everything after the first (or last) occurrence of `marker` in `text`, with the marker in front when
/// kept. 1 when the marker occurs, else -1 with an empty output.
int TextAfter(char* output, std::size_t outputSize, const char* text, const char* marker, int keepMarker,
              bool fromLast);

/// Everything before the first (or last) occurrence of `marker` in `text`, with the marker at the end when
/// kept. 1 when the marker occurs, else -1 with an empty output.
int TextBefore(char* output, std::size_t outputSize, const char* text, const char* marker, int keepMarker,
               bool fromLast);

/// TextBefore(`endMarker`) of TextAfter(`startMarker`) of `text`: the end marker is looked for only behind
/// the start marker, whether or not the start marker is kept. 1 when both occur, else -1 with an empty
/// output.
int TextBetween(char* output, std::size_t outputSize, const char* text, const char* startMarker,
                const char* endMarker, int keepStart, int keepEnd, bool startFromLast, bool endFromLast);

/// Removes leading, then trailing blanks in place. Only spaces and tabs are blanks; CR and LF are not.
void TrimBlanks(char* text);

// The same on fixed-size arrays, whose size is the output size.
template <std::size_t N>
int TextAfter(char (&output)[N], const char* text, const char* marker, int keepMarker, bool fromLast)
{
    return TextAfter(output, N, text, marker, keepMarker, fromLast);
}

template <std::size_t N>
int TextBefore(char (&output)[N], const char* text, const char* marker, int keepMarker, bool fromLast)
{
    return TextBefore(output, N, text, marker, keepMarker, fromLast);
}
