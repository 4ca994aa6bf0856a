#pragma once

#include <cstdint>

namespace spreadsheet {

class ParallelDeflate;
class SharedStrings;

/// Streams the shared-string part of a workbook (xl/sharedStrings.xml) into the compressor: one <si>
/// per string of the table, in the table's order, so that a cell's index names its text.
void writeSharedStringsXml(const SharedStrings& strings, ParallelDeflate& out);

/// An upper bound of that part's size, to know before writing it whether it needs ZIP64.
std::uint64_t sharedStringsXmlBound(const SharedStrings& strings);

} // namespace spreadsheet
