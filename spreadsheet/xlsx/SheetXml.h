#pragma once

#include "spreadsheet/model/CellStyle.h"
#include "spreadsheet/model/StopCheck.h"

#include <string>
#include <string_view>

namespace spreadsheet {

struct SheetPiece;
class ParallelDeflate;
class SharedStrings;

/// Streams the worksheet XML of one sheet piece into the compressor, row by row, typing each cell of a
/// general column by the value rules. Every row and cell names its place (some readers place a cell
/// without one nowhere). Text cells of columns whose texts repeat refer to `strings`, the workbook's
/// shared-string table, which this adds to; the others hold their text inline. Rows without cells are
/// left out.
/// Tells `stop` how far it is at each flush, and ends early, the XML unfinished, when it says to stop.
void writeSheetXml(const SheetPiece& piece, bool selected, SharedStrings& strings, ParallelDeflate& out,
                   const StopCheck& stop = StopCheck());

/// Most bytes that one byte of text becomes in appendCellText(): a control character as _xHHHH_.
constexpr std::size_t kMaxEscapedBytes = 7;

/// Appends text as the content of an XML element: &, < and > escaped; a carriage return as &#13;, which
/// XML's line-end handling would otherwise turn into a line feed; characters XML 1.0 cannot hold (control
/// characters but tab, line feed and carriage return, U+FFFE and U+FFFF) written as _xHHHH_, and a
/// literal _xHHHH_ as _x005F_xHHHH_, the way spreadsheet files carry them (also with one to three
/// digits, which some readers take for an escape too).
void appendCellText(std::string& out, std::string_view text);

/// Appends text as a <t> element: escaped as appendCellText() does, with xml:space="preserve" when it
/// starts or ends with a blank.
void appendTextElement(std::string& out, std::string_view text);

} // namespace spreadsheet
