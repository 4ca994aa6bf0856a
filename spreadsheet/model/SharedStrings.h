#pragma once

#include <cstdint>
#include <memory>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet {

/// The distinct strings of a workbook's text cells, numbered in the order they are first met. The table
/// holds views, not copies: the texts (the cell grids) must outlive it. About 32 bytes a distinct string.
class SharedStrings
{
public:
    /// With `copyShortTexts`, texts of up to 64 bytes are copied into memory of the table's own, side by
    /// side: a lookup of a text met before then compares with memory that repeated lookups keep in the
    /// cache, not with the first cell's text somewhere in the grid. It costs the copies' bytes.
    explicit SharedStrings(bool copyShortTexts = false) : slots_(1024, 0), copyShortTexts_(copyShortTexts) {}

    static std::size_t hashOf(std::string_view text);
    /// Number of the text, adding it when it is new; `hash` is hashOf(text). A `transient` text (one made
    /// for the save, not a view of a grid) is copied when it is new.
    std::uint32_t add(std::string_view text, std::size_t hash, bool transient = false);
    std::uint32_t add(std::string_view text, bool transient = false) { return add(text, hashOf(text), transient); }
    /// Starts loading, without waiting for it, what a lookup of the hash reads at step 0 (its slot), 1 (the
    /// string that the slot names) or 2 (that string's text). Lookups of many strings wait for memory at
    /// each step; taking the steps for all of them in turn lets the waits overlap.
    void prefetch(std::size_t hash, int step) const;

    std::size_t size() const { return strings_.size(); }
    std::string_view at(std::size_t index) const { return strings_[index]; }
    /// How many times add() was called: the number of cells that refer to the table.
    std::uint64_t references() const { return references_; }

private:
    void grow();
    std::string_view keep(std::string_view text);

    // Open addressing. A slot holds 1 + the number of a string in its low half (0: free) and the high
    // half of that string's hash, so that a probe compares texts only when the hashes agree.
    static std::uint64_t slotFor(std::size_t hash, std::size_t index)
    {
        return (std::uint64_t(hash) & 0xFFFFFFFF00000000u) | std::uint64_t(index + 1);
    }
    std::vector<std::string_view> strings_;
    std::vector<std::uint64_t> slots_;
    std::uint64_t references_ = 0;
    bool copyShortTexts_;
    std::vector<std::unique_ptr<char[]>> copies_; // blocks of kCopyBlock bytes
    std::size_t copyBlockUsed_ = 0;
    std::deque<std::string> owned_; // copies of transient texts: a deque never moves them
};

} // namespace spreadsheet
