#include "DelimitedText.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

namespace spreadsheet {

namespace {

constexpr char kQuote = '"';
// Records between two looks at the stop check: a few milliseconds of parsing.
constexpr std::size_t kRecordsPerStopCheck = 4096;

enum ByteClass : unsigned char
{
    Plain = 0,
    Delimiter,
    Carriage,
    LineFeed,
};

// Counts fields per record for one candidate delimiter over the first records of the text.
std::vector<std::size_t> fieldCounts(const std::string& text, char delimiter, std::size_t maxRecords)
{
    std::vector<std::size_t> counts;
    std::size_t fields = 1;
    bool inQuotes = false;
    bool atFieldStart = true; // only there does a quote open a quoted field; elsewhere it is a character
    bool recordHasContent = false;
    const std::size_t limit = std::min<std::size_t>(text.size(), 1 << 16);
    for (std::size_t i = 0; i < limit && counts.size() < maxRecords; ++i) {
        const char c = text[i];
        if (inQuotes) {
            if (c == kQuote) {
                if (i + 1 < limit && text[i + 1] == kQuote)
                    ++i; // a doubled quote stays inside
                else
                    inQuotes = false;
            }
        } else if (c == kQuote && atFieldStart) {
            inQuotes = true;
            atFieldStart = false;
            recordHasContent = true;
        } else if (c == delimiter) {
            ++fields;
            atFieldStart = true;
            recordHasContent = true;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < limit && text[i + 1] == '\n')
                ++i;
            if (recordHasContent)
                counts.push_back(fields);
            fields = 1;
            atFieldStart = true;
            recordHasContent = false;
        } else {
            atFieldStart = false;
            recordHasContent = true;
        }
    }
    if (recordHasContent && counts.size() < maxRecords && limit == text.size())
        counts.push_back(fields);
    return counts;
}

} // namespace

char detectDelimiter(const std::string& text)
{
    constexpr std::array<char, 4> candidates{',', ';', '\t', '|'};
    char best = ',';
    std::size_t bestScore = 0;
    for (char candidate : candidates) {
        const std::vector<std::size_t> counts = fieldCounts(text, candidate, 20);
        std::map<std::size_t, std::size_t> histogram;
        for (std::size_t n : counts)
            ++histogram[n];
        std::size_t score = 0;
        for (const auto& [fields, records] : histogram) {
            if (fields > 1)
                score = std::max(score, records);
        }
        if (score > bestScore) {
            bestScore = score;
            best = candidate;
        }
    }
    return best;
}

CellGrid parseDelimited(std::string&& text, const DelimitedOptions& options,
                        std::vector<ColumnImport>* columnFormats)
{
    std::array<unsigned char, 256> classOf{};
    for (char d : options.delimiters)
        classOf[static_cast<unsigned char>(d)] = Delimiter;
    classOf['\r'] = Carriage;
    classOf['\n'] = LineFeed;

    CellGrid::Build build;
    // One pass over the text gives an upper bound for both tables, so they never reallocate: growing a
    // vector of tens of millions of cells would briefly need twice its memory.
    {
        std::size_t separators = 0, lineBreaks = 0;
        for (unsigned char c : text) {
            separators += classOf[c] == Delimiter;
            lineBreaks += classOf[c] >= Carriage;
        }
        build.rowTextStart.reserve(lineBreaks + 1);
        build.rowFirstCell.reserve(lineBreaks + 2);
        build.cellEnds.reserve(separators + lineBreaks + 1);
    }
    build.rowFirstCell.push_back(0);

    std::vector<ColumnImport> outputFormats;
    const auto importOf = [&](std::size_t sourceColumn) {
        return sourceColumn < options.columns.size() ? options.columns[sourceColumn] : ColumnImport::General;
    };

    char* const buffer = text.data();
    const std::size_t size = text.size();
    std::size_t read = 0;  // next byte to look at
    std::size_t write = 0; // where the next byte of field text goes (never past `read`)
    std::size_t record = 0;
    std::size_t rowStart = 0;
    std::size_t sourceColumn = 0;
    std::size_t outputColumn = 0;
    std::size_t fieldStart = 0;

    auto copy = [&](std::size_t from, std::size_t length) {
        if (write != from)
            std::memmove(buffer + write, buffer + from, length);
        write += length;
    };
    auto takingRecord = [&] { return record + 1 >= options.startRow; };
    auto endField = [&] {
        const ColumnImport import = importOf(sourceColumn++);
        if (import == ColumnImport::Skip || !takingRecord()) {
            write = fieldStart;
            return;
        }
        if (outputColumn >= outputFormats.size())
            outputFormats.resize(outputColumn + 1, ColumnImport::General);
        if (import == ColumnImport::Text)
            outputFormats[outputColumn] = ColumnImport::Text;
        ++outputColumn;
        build.cellEnds.push_back(static_cast<std::uint32_t>(write - rowStart));
    };
    auto endRecord = [&] {
        if (takingRecord()) {
            build.rowTextStart.push_back(rowStart);
            build.rowFirstCell.push_back(build.cellEnds.size());
        } else {
            write = rowStart;
        }
        ++record;
        rowStart = write;
        sourceColumn = 0;
        outputColumn = 0;
    };

    while (read < size) {
        fieldStart = write;
        // A quoted field: find its closing quote first, so a quote that never closes can fall back to
        // being a plain character without anything having been moved yet.
        if (options.quoted && buffer[read] == kQuote) {
            std::size_t scan = read + 1;
            bool closed = false;
            while (true) {
                const void* hit = std::memchr(buffer + scan, kQuote, size - scan);
                if (!hit)
                    break;
                scan = static_cast<const char*>(hit) - buffer;
                if (scan + 1 < size && buffer[scan + 1] == kQuote) {
                    scan += 2;
                    continue;
                }
                closed = true;
                break;
            }
            if (closed) {
                // Copy the inside, turning each "" into ".
                std::size_t from = read + 1;
                while (from < scan) {
                    const void* hit = std::memchr(buffer + from, kQuote, scan - from);
                    const std::size_t stop = hit ? static_cast<const char*>(hit) - buffer : scan;
                    copy(from, stop - from);
                    if (stop < scan) {
                        buffer[write++] = kQuote;
                        from = stop + 2;
                    } else {
                        from = stop;
                    }
                }
                read = scan + 1;
            }
        }
        // Plain bytes up to the next delimiter or line break (after a closing quote, stray text is kept).
        {
            std::size_t stop = read;
            while (stop < size && classOf[static_cast<unsigned char>(buffer[stop])] == Plain)
                ++stop;
            copy(read, stop - read);
            read = stop;
        }
        if (read >= size) {
            endField();
            endRecord();
            break;
        }
        const unsigned char cls = classOf[static_cast<unsigned char>(buffer[read])];
        endField();
        ++read;
        if (cls == Delimiter) {
            if (options.consecutiveDelimitersAsOne) {
                while (read < size && classOf[static_cast<unsigned char>(buffer[read])] == Delimiter)
                    ++read;
            }
            if (read >= size) {
                // A trailing delimiter ends the file: its empty last field still belongs to the record.
                fieldStart = write;
                endField();
                endRecord();
            }
            continue;
        }
        if (cls == Carriage && read < size && buffer[read] == '\n')
            ++read;
        endRecord();
        if (record % kRecordsPerStopCheck == 0 && options.stop && options.stop->requested())
            break;
    }

    text.resize(write);
    build.text = std::move(text);
    if (columnFormats)
        *columnFormats = std::move(outputFormats);
    return CellGrid(std::move(build));
}

} // namespace spreadsheet
