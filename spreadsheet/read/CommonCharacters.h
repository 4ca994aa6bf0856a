#pragma once

namespace spreadsheet {

/// Characters that text in a language uses most, for telling its legacy encodings apart: a text read in
/// the wrong one gives characters from all over the code table, hardly ever these.

/// About a thousand of the most used Chinese characters, simplified and traditional, and the Japanese
/// kanji most used in names, places and business records.
bool isCommonHan(char32_t c);

/// Japanese hiragana and katakana (full width).
bool isKana(char32_t c);

/// About three hundred of the most used Hangul syllables, names and places included.
bool isCommonHangul(char32_t c);

} // namespace spreadsheet
