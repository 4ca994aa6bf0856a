#pragma once

#include "BiffRecords.h"
#include "Status.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace spreadsheet {

/// The distinct strings of a workbook's text cells, numbered in the order they are first met. The table
/// holds views, not copies: the texts (the cell grids) must outlive it. About 20 bytes a distinct string.
class SharedStrings
{
public:
    /// Number of the text, adding it when it is new.
    std::uint32_t add(std::string_view text);

    std::size_t size() const { return strings_.size(); }
    std::string_view at(std::size_t index) const { return strings_[index]; }
    /// How many times add() was called: the number of cells that refer to the table.
    std::uint64_t references() const { return references_; }

private:
    void grow();

    std::vector<std::string_view> strings_;
    std::vector<std::uint32_t> slots_; // open addressing: 1 + number of a string, 0 for a free slot
    std::uint64_t references_ = 0;
};

/// Writes the table as an SST record, continued in CONTINUE records where it passes the record size,
/// then the EXTSST record that indexes it. Fails for a string longer than a cell may hold.
Status writeSharedStrings(const SharedStrings& strings, biff::RecordStream& out);

} // namespace spreadsheet
