#include "spreadsheet/model/CellGrid.h"

#include <algorithm>

namespace spreadsheet {

void CellGrid::Build::endRow(std::uint64_t textStart)
{
    const std::size_t first = rowFirstCell.back();
    const std::size_t cells = cellEnds.size() - first;
    if (cells == 0 || (cells == 1 && cellEnds.back() == 0)) {
        cellEnds.resize(first);
        ++rows;
        return;
    }
    storeRow(textStart);
}

void CellGrid::Build::storeRow(std::uint64_t textStart)
{
    // A stored row right after the previous stored one continues its run; after blank rows a new run starts.
    const Run& last = runs.back();
    if (last.row + (rowTextStart.size() - last.stored) != rows)
        runs.push_back({rows, rowTextStart.size()});
    rowTextStart.push_back(textStart);
    rowFirstCell.push_back(cellEnds.size());
    ++rows;
}

std::size_t CellGrid::Build::storedIndex(std::size_t row) const
{
    if (runs.size() == 1) // no blank row between stored ones: the common case, without a search
        return row < rowTextStart.size() ? row : kBlank;
    const auto next = std::upper_bound(runs.begin(), runs.end(), row,
                                       [](std::size_t r, const Run& run) { return r < run.row; });
    const Run& run = *(next - 1); // the first run starts at row 0
    const std::size_t end = next == runs.end() ? rowTextStart.size() : next->stored;
    const std::size_t stored = run.stored + (row - run.row);
    return stored < end ? stored : kBlank;
}

CellGrid::CellGrid(Build&& build) : rows_(std::move(build))
{
    if (rows_.rowFirstCell.empty())
        rows_.rowFirstCell.push_back(0);
    if (rows_.runs.empty())
        rows_.runs.push_back({0, 0});
    for (std::size_t row = 0; row < rows_.rowTextStart.size(); ++row) {
        const std::size_t first = rows_.rowFirstCell[row];
        const std::size_t last = rows_.rowFirstCell[row + 1];
        columnCount_ = std::max(columnCount_, last - first);
        std::uint32_t previous = 0;
        for (std::size_t i = first; i < last; ++i) {
            longestCellBytes_ = std::max<std::size_t>(longestCellBytes_, rows_.cellEnds[i] - previous);
            previous = rows_.cellEnds[i];
        }
    }
}

std::size_t CellGrid::cellCount(std::size_t row) const
{
    if (row >= rowCount())
        return 0;
    const std::size_t stored = rows_.storedIndex(row);
    std::size_t count = 0;
    if (stored != Build::kBlank)
        count = rows_.rowFirstCell[stored + 1] - rows_.rowFirstCell[stored];
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
    std::uint64_t bytes = rows_.text.size();
    for (const auto& entry : outOfOrder_)
        bytes += entry.second.size();
    return bytes;
}

std::string_view CellGrid::storedCell(std::size_t row, std::size_t column) const
{
    const std::size_t stored = rows_.storedIndex(row);
    if (stored == Build::kBlank)
        return {};
    const std::size_t first = rows_.rowFirstCell[stored];
    const std::size_t index = first + column;
    if (index >= rows_.rowFirstCell[stored + 1])
        return {};
    const std::uint32_t begin = column == 0 ? 0 : rows_.cellEnds[index - 1];
    const char* const rowText = rows_.text.data() + rows_.rowTextStart[stored];
    return std::string_view(rowText + begin, rows_.cellEnds[index] - begin);
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
    const std::size_t stored = rows_.storedIndex(row);
    if (stored == Build::kBlank) {
        cells = {rows_.text.data(), nullptr, 0};
        return true;
    }
    const std::size_t first = rows_.rowFirstCell[stored];
    cells.text = rows_.text.data() + rows_.rowTextStart[stored];
    cells.ends = rows_.cellEnds.data() + first;
    cells.count = rows_.rowFirstCell[stored + 1] - first;
    return true;
}

void CellGrid::setCell(std::size_t row, std::size_t column, std::string_view text)
{
    if (rows_.rows <= row)
        rows_.rows = row + 1; // blank rows up to this one
    longestCellBytes_ = std::max(longestCellBytes_, text.size());
    columnCount_ = std::max(columnCount_, column + 1);

    const bool lastRow = row + 1 == rowCount();
    std::size_t stored = rows_.storedIndex(row);
    if (lastRow && stored == Build::kBlank) {
        // The blank last row becomes a stored one, its cells at the end of the text.
        --rows_.rows;
        rows_.storeRow(rows_.text.size());
        stored = rows_.rowTextStart.size() - 1;
    }
    if (lastRow && stored != Build::kBlank) {
        const std::size_t count = rows_.rowFirstCell[stored + 1] - rows_.rowFirstCell[stored];
        const std::uint64_t rowBytes = rows_.text.size() - rows_.rowTextStart[stored];
        if (column >= count && rowBytes + text.size() <= UINT32_MAX &&
            outOfOrder_.find(key(row, column)) == outOfOrder_.end()) {
            // Pad skipped columns with empty cells, then append this one.
            const std::uint32_t end = static_cast<std::uint32_t>(rowBytes);
            for (std::size_t c = count; c < column; ++c)
                rows_.cellEnds.push_back(end);
            rows_.text.append(text);
            rows_.cellEnds.push_back(static_cast<std::uint32_t>(rowBytes + text.size()));
            rows_.rowFirstCell[stored + 1] = rows_.cellEnds.size();
            return;
        }
    }
    outOfOrder_[key(row, column)] = std::string(text);
}

} // namespace spreadsheet
