#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet {

/// The cells of one sheet, stored compactly: all field texts back to back in one UTF-8 buffer, and per
/// cell only the end of its text relative to the start of its row (4 bytes a cell, no heap object).
/// Blank rows (no cells, or a single empty one) take no memory of their own: a run of them costs one
/// entry where stored rows resume, so a file of empty lines costs less than its bytes.
/// Rows are appended in order; a cell written out of order is kept apart and wins over the stored one.
class CellGrid
{
public:
    /// Filled in one go by a parser that compacted the field texts into `text` in place, row by row
    /// through endRow().
    struct Build
    {
        /// Where stored rows resume after blank ones: sheet row, index of its stored row. The first entry is
        /// always {0, 0}; the rows of entry k are stored from `stored` until the next entry's `stored`.
        struct Run
        {
            std::uint64_t row;
            std::uint64_t stored;
        };

        std::string text;
        std::vector<std::uint64_t> rowTextStart; // one per stored row
        std::vector<std::uint64_t> rowFirstCell{0}; // one per stored row, plus the end
        std::vector<std::uint32_t> cellEnds;     // relative to the row's text start
        std::vector<Run> runs{{0, 0}};
        std::size_t rows = 0; // stored and blank

        /// Ends the next row, whose cells are those added to cellEnds since the previous row and whose text
        /// starts at `textStart`. A row of one empty cell or none is kept as a blank row.
        void endRow(std::uint64_t textStart);
        /// Ends the next row as endRow() does, but keeps it as a stored row even when blank.
        void storeRow(std::uint64_t textStart);
        /// The stored row of sheet row `row`, or kBlank.
        std::size_t storedIndex(std::size_t row) const;
        static constexpr std::size_t kBlank = static_cast<std::size_t>(-1);
    };

    CellGrid() = default;
    explicit CellGrid(Build&& build);

    std::size_t rowCount() const { return rows_.rows; }
    std::size_t cellCount(std::size_t row) const;
    /// Text of a cell; empty for a cell that was never written.
    std::string_view cell(std::size_t row, std::size_t column) const;

    /// The cells of a row as stored, for a writer that walks the row in order without a lookup per
    /// cell: `count` cells back to back from `text`, cell i ending at `text + ends[i]`.
    struct RowCells
    {
        const char* text;
        const std::uint32_t* ends;
        std::size_t count;
    };
    /// False when some cell of the row was written out of order; cell() then has the row's texts.
    bool storedRow(std::size_t row, RowCells& cells) const;
    /// Widest row, counting cells up to the last one written.
    std::size_t columnCount() const { return columnCount_; }
    /// Longest cell text in bytes: a cheap bound used before the exact per-cell limit checks.
    std::size_t longestCellBytes() const { return longestCellBytes_; }
    /// Bytes of cell text and number of cells held: for estimates of output size.
    std::uint64_t storedBytes() const;
    std::uint64_t storedCells() const { return rows_.cellEnds.size() + outOfOrder_.size(); }

    /// Writes one cell (0-based). Appending at or after the end of the last row is cheap; any other
    /// place goes to the out-of-order store.
    void setCell(std::size_t row, std::size_t column, std::string_view text);

private:
    std::string_view storedCell(std::size_t row, std::size_t column) const;
    static std::uint64_t key(std::size_t row, std::size_t column) { return (std::uint64_t(row) << 24) | column; }

    Build rows_;
    std::map<std::uint64_t, std::string> outOfOrder_;
    std::size_t columnCount_ = 0;
    std::size_t longestCellBytes_ = 0;
};

} // namespace spreadsheet
