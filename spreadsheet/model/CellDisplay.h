#pragma once

#include "spreadsheet/model/CellStyle.h"
#include "spreadsheet/model/ValueTyping.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace spreadsheet {

struct SheetPiece;

/// How a cell shows when the workbook opens: what a person would otherwise see mangled (1.23E+11 for a
/// 12-digit number, ### for a date in a narrow column, a text running over the next row) is fixed by
/// the cell's format, its column's width and its row's height. The values never change for it.

/// The style of a number written as `field` (blanks around it allowed): a whole number of more than 11
/// characters (12 to 15 digits, or 11 and a minus sign) shows every digit ("0"), a decimal of more than
/// 11 characters every decimal place ("0.###############"), since the General format shows at most 11
/// characters of a number; any other number, and one written with an exponent, stays General.
CellStyle numberStyle(std::string_view field);

/// Width of text in character cells, the widest of its lines: East Asian wide characters (Chinese,
/// Japanese, Korean, full-width forms) count two, every other character one.
std::size_t textWidth(std::string_view text);

/// Number of lines of text: its line breaks plus one.
std::size_t lineCount(std::string_view text);

/// Row height, in points, that shows `lines` lines of the default font (at most the format's 409).
double rowHeightForLines(std::size_t lines);

/// The widths of a sheet piece's columns in characters of the default font (the unit both file formats
/// use), each fitted to the widest cell of a sample of its rows as it shows (a date as yyyy-mm-dd, a
/// number as written, text by textWidth()), within [kDefaultColumnWidth, kMaxColumnWidth]. A column with
/// no cell in the sample keeps the default width. Rows are sampled so that the cost stays small on
/// large sheets: the first rows and an even spread of the rest. At most `maxColumns` columns.
constexpr double kDefaultColumnWidth = 8.43;
constexpr double kMaxColumnWidth = 80;
std::vector<double> fitColumnWidths(const SheetPiece& piece, std::size_t maxColumns);

} // namespace spreadsheet
