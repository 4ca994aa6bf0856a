#include "spreadsheet/model/CellGrid.h"

#include <algorithm>

namespace spreadsheet {

CellGrid::CellGrid(Build&& build)
    : text_(std::move(build.text)), rowTextStart_(std::move(build.rowTextStart)),
      rowFirstCell_(std::move(build.rowFirstCell)), cellEnds_(std::move(build.cellEnds))
{
    if (rowFirstCell_.empty())
        rowFirstCell_.push_back(0);
    for (std::size_t row = 0; row < rowTextStart_.size(); ++row) {
        const std::size_t first = rowFirstCell_[row];
        const std::size_t last = rowFirstCell_[row + 1];
        columnCount_ = std::max(columnCount_, last - first);
        std::uint32_t previous = 0;
        for (std::size_t i = first; i < last; ++i) {
            longestCellBytes_ = std::max<std::size_t>(longestCellBytes_, cellEnds_[i] - previous);
            previous = cellEnds_[i];
        }
    }
}

std::size_t CellGrid::cellCount(std::size_t row) const
{
    if (row >= rowCount())
        return 0;
    std::size_t count = rowFirstCell_[row + 1] - rowFirstCell_[row];
    if (!outOfOrder_.empty()) {
        auto it = outOfOrder_.lower_bound(key(row + 1, 0));
        if (it != outOfOrder_.begin()) {
            --it;
            if ((it->first >> 24) == row)
                count = std::max<std::size_t>(count, (it->first & 0xFFFFFF) + 1);
        }
    }
    return count;
}

std::uint64_t CellGrid::storedBytes() const
{
    std::uint64_t bytes = text_.size();
    for (const auto& entry : outOfOrder_)
        bytes += entry.second.size();
    return bytes;
}

std::string_view CellGrid::storedCell(std::size_t row, std::size_t column) const
{
    const std::size_t first = rowFirstCell_[row];
    const std::size_t index = first + column;
    if (index >= rowFirstCell_[row + 1])
        return {};
    const std::uint32_t begin = column == 0 ? 0 : cellEnds_[index - 1];
    return std::string_view(text_.data() + rowTextStart_[row] + begin, cellEnds_[index] - begin);
}

std::string_view CellGrid::cell(std::size_t row, std::size_t column) const
{
    if (row >= rowCount())
        return {};
    if (!outOfOrder_.empty()) {
        auto it = outOfOrder_.find(key(row, column));
        if (it != outOfOrder_.end())
            return it->second;
    }
    return storedCell(row, column);
}

bool CellGrid::storedRow(std::size_t row, RowCells& cells) const
{
    if (row >= rowCount())
        return false;
    if (!outOfOrder_.empty()) {
        const auto it = outOfOrder_.lower_bound(key(row, 0));
        if (it != outOfOrder_.end() && (it->first >> 24) == row)
            return false;
    }
    const std::size_t first = rowFirstCell_[row];
    cells.text = text_.data() + rowTextStart_[row];
    cells.ends = cellEnds_.data() + first;
    cells.count = rowFirstCell_[row + 1] - first;
    return true;
}

void CellGrid::appendRowsUpTo(std::size_t row)
{
    while (rowTextStart_.size() <= row) {
        rowTextStart_.push_back(text_.size());
        rowFirstCell_.push_back(cellEnds_.size());
    }
}

void CellGrid::setCell(std::size_t row, std::size_t column, std::string_view text)
{
    if (row + 1 >= rowCount())
        appendRowsUpTo(row);
    longestCellBytes_ = std::max(longestCellBytes_, text.size());
    columnCount_ = std::max(columnCount_, column + 1);

    const bool lastRow = row + 1 == rowCount();
    const std::size_t stored = rowFirstCell_[row + 1] - rowFirstCell_[row];
    const std::uint64_t rowBytes = text_.size() - rowTextStart_[row];
    if (lastRow && column >= stored && rowBytes + text.size() <= UINT32_MAX &&
        outOfOrder_.find(key(row, column)) == outOfOrder_.end()) {
        // Pad skipped columns with empty cells, then append this one.
        const std::uint32_t end = static_cast<std::uint32_t>(rowBytes);
        for (std::size_t c = stored; c < column; ++c)
            cellEnds_.push_back(end);
        text_.append(text);
        cellEnds_.push_back(static_cast<std::uint32_t>(rowBytes + text.size()));
        rowFirstCell_[row + 1] = cellEnds_.size();
        return;
    }
    outOfOrder_[key(row, column)] = std::string(text);
}

} // namespace spreadsheet
