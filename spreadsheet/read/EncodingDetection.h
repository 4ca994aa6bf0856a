#pragma once

#include "spreadsheet/read/TextDecoding.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace spreadsheet {

struct DetectedEncoding
{
    TextEncoding encoding = TextEncoding::Utf8;
    std::size_t byteOrderMarkLength = 0; // bytes to drop at the start
    bool wellFormed = false;             // the bytes were found to be whole, valid UTF-8 already
};

/// Length of the byte-order mark (UTF-8, UTF-16 or UTF-32, LE or BE) the bytes start with, which names `encoding`;
/// 0 when they start with none, leaving `encoding` as it was.
std::size_t byteOrderMarkLength(std::string_view bytes, TextEncoding& encoding);

/// Picks the encoding of a text file's bytes, judging the text as a whole:
/// - a byte-order mark decides and is dropped;
/// - UTF-16 without a mark when the sample reads as UTF-16 with its line ends and delimiters as whole code
///   units, and hardly anything it gives is an unpaired surrogate, a control or a private character
///   (so text that is mostly Chinese, emoji or characters with a zero byte of their own is found too);
/// - UTF-32 without a mark when its units are characters with line ends and delimiters among them;
/// - UTF-8 when the bytes are UTF-8, also when the end cuts the last character short, or when they are UTF-8
///   but for a few broken sequences;
/// - otherwise the one of GB18030 (a superset of GBK), Big5, Shift_JIS, EUC-KR, windows-1252 and UTF-8
///   whose reading of the sample gives the most characters that text in its language uses most, less a
///   quarter of its broken sequences; GB18030 unless another does better. Windows-1252 text that holds a
///   byte it leaves undefined is ISO-8859-1.
DetectedEncoding detectEncoding(std::string_view bytes);

/// Turns the bytes into UTF-8 in the encoding detectEncoding() found, without a second look at text it
/// found valid already; returns the number of replacement characters, as decodeToUtf8() does.
std::size_t decodeDetected(std::string& bytes, const DetectedEncoding& detected);

} // namespace spreadsheet
