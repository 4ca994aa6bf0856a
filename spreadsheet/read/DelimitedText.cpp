#include "spreadsheet/read/DelimitedText.h"

#include "spreadsheet/model/ShortBytes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <new>
#include <string_view>

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

constexpr std::size_t kSampleBytes = 1 << 18;
constexpr std::size_t kSampleRecords = 500;

// The sample as the reader would split it at one candidate delimiter: the field count of each record, and
// the quotes that do not fit (a quote inside an unquoted field, text after a closing quote, a quote that
// never closes). A candidate that splits the text wrongly cuts quoted fields in two and leaves such quotes.
struct CandidateReading
{
    std::map<std::size_t, std::size_t> recordsWithFields; // field count -> records
    std::size_t strayQuotes = 0;
};

CandidateReading readSample(const std::string& text, char delimiter)
{
    CandidateReading reading;
    const std::size_t limit = std::min(text.size(), kSampleBytes);
    const bool wholeText = limit == text.size();
    std::size_t records = 0, fields = 1, i = 0;
    bool recordHasContent = false;
    auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
    while (i < limit && records < kSampleRecords) {
        // One field, starting at i.
        bool stray = false;
        if (text[i] == kQuote) {
            recordHasContent = true;
            std::size_t scan = i + 1;
            bool closed = false;
            while (scan < limit) {
                if (text[scan] == kQuote) {
                    if (scan + 1 < limit && text[scan + 1] == kQuote) {
                        scan += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                ++scan;
            }
            if (!closed && !wholeText)
                break; // the field goes on past the sample: what follows cannot be judged
            if (closed) {
                i = scan + 1;
            } else {
                stray = true; // the reader takes a quote that never closes as a plain character
                ++i;
            }
        }
        while (i < limit && text[i] != delimiter && !isBreak(text[i])) {
            stray |= text[i] == kQuote;
            recordHasContent = true;
            ++i;
        }
        reading.strayQuotes += stray;
        if (i >= limit)
            break;
        if (text[i] == delimiter) {
            ++fields;
            recordHasContent = true;
            ++i;
            continue;
        }
        if (text[i] == '\r' && i + 1 < limit && text[i + 1] == '\n')
            ++i;
        ++i;
        if (recordHasContent) {
            ++reading.recordsWithFields[fields];
            ++records;
        }
        fields = 1;
        recordHasContent = false;
    }
    if (recordHasContent && i >= text.size())
        ++reading.recordsWithFields[fields];
    return reading;
}

} // namespace

std::size_t separatorLineLength(const std::string& text, char& delimiter)
{
    if (text.size() < 5 || (text.compare(0, 4, "sep=") != 0 && text.compare(0, 4, "SEP=") != 0))
        return 0;
    const unsigned char named = static_cast<unsigned char>(text[4]);
    if (named < 0x20 ? named != '\t' : named >= 0x7F || named == kQuote)
        return 0;
    std::size_t length = 5;
    if (length < text.size() && text[length] == '\r')
        ++length;
    if (length < text.size() && text[length] == '\n')
        ++length;
    if (length == 5 && length < text.size())
        return 0; // more on the line: an ordinary first row
    delimiter = static_cast<char>(named);
    return length;
}

char detectDelimiter(const std::string& text)
{
    // In a tie the rarer character wins: a tab or a semicolon that splits every record the same way is the
    // delimiter even where the text holds commas too.
    constexpr std::array<char, 4> candidates{'\t', ';', '|', ','};
    char best = ',';
    bool found = false;
    long long bestScore = 0;
    const std::string_view sample(text.data(), std::min(text.size(), kSampleBytes));
    for (char candidate : candidates) {
        if (sample.find(candidate) == std::string_view::npos)
            continue; // it splits nothing
        const CandidateReading reading = readSample(text, candidate);
        // The usual field count; a tie goes to the larger count. A record of one field fits every
        // candidate, so it says nothing: a sparse file whose few full records are quoted is judged by those.
        std::size_t usual = 0, agreeing = 0;
        for (const auto& [fields, records] : reading.recordsWithFields) {
            if (fields >= 2 && records >= agreeing) {
                usual = fields;
                agreeing = records;
            }
        }
        if (usual < 2)
            continue;
        const long long score = static_cast<long long>(agreeing) - 2 * static_cast<long long>(reading.strayQuotes);
        if (!found || score > bestScore) {
            found = true;
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
    // vector of tens of millions of cells would briefly need twice its memory. Only a line break behind
    // another byte can end a row that is not blank; blank rows take no room in the tables.
    {
        std::size_t separators = 0, rowEnds = 0;
        bool afterBreak = true;
        for (unsigned char c : text) {
            const bool lineBreak = classOf[c] >= Carriage;
            separators += classOf[c] == Delimiter;
            rowEnds += lineBreak && !afterBreak;
            afterBreak = lineBreak;
        }
        const unsigned long long tableBytes =
            16ULL * (rowEnds + 2) + 4ULL * (static_cast<unsigned long long>(separators) + rowEnds + 1);
        if (options.tableBytesLimit != 0 && tableBytes > options.tableBytesLimit)
            throw std::bad_alloc();
        build.rowTextStart.reserve(rowEnds + 1);
        build.rowFirstCell.reserve(rowEnds + 2);
        build.cellEnds.reserve(separators + rowEnds + 1);
    }

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
            moveBytes(buffer + write, buffer + from, length);
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
            build.endRow(rowStart);
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
        if (record % kRecordsPerStopCheck == 0 && options.stop) {
            options.stop->progress(WorkStage::Reading, record, 0);
            if (options.stop->requested())
                break;
        }
    }

    text.resize(write);
    build.text = std::move(text);
    if (columnFormats)
        *columnFormats = std::move(outputFormats);
    return CellGrid(std::move(build));
}

} // namespace spreadsheet
