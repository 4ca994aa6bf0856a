#include "spreadsheet/xls/SstRecords.h"

#include "spreadsheet/model/SharedStrings.h"

#include <string>
#include <vector>

namespace spreadsheet {

namespace {

constexpr std::size_t kMaxStringUnits = 32767;

// The record being filled: where its header is in the buffer, to patch its size once it is full.
struct OpenRecord
{
    std::size_t headerAt = 0;
    std::size_t used = 0; // bytes of data so far
};

void closeRecord(std::string& out, const OpenRecord& record)
{
    out[record.headerAt + 2] = static_cast<char>(record.used & 0xFF);
    out[record.headerAt + 3] = static_cast<char>(record.used >> 8);
}

OpenRecord openContinue(biff::RecordStream& stream)
{
    stream.flushIfFull(); // between records only: an open record's header is still to be patched
    OpenRecord record{stream.buffer().size(), 0};
    biff::writeContinueHeader(stream.buffer(), 0);
    return record;
}

// Bytes that the start of a string needs in one record: its header and its first character.
std::size_t startBytes(std::string_view text, const biff::StringShape& shape)
{
    if (shape.units == 0)
        return 3;
    if (!shape.wide)
        return 3 + 1;
    return 3 + (static_cast<unsigned char>(text[0]) >= 0xF0 && shape.units >= 2 ? 4 : 2);
}

} // namespace

Status writeSharedStrings(const SharedStrings& strings, biff::RecordStream& stream)
{
    using biff::kMaxRecordData;
    const std::size_t count = strings.size();
    // The index has one entry per bucket of strings: 128 buckets at most keep it small, and for tables
    // too large for that, the entries that fit in one record.
    const std::size_t perBucket =
        std::min<std::size_t>(0xFFFF, std::max<std::size_t>(8, (count + 127) / 128));
    constexpr std::size_t kMaxBuckets = (biff::kMaxRecordData - 2) / 8;
    std::vector<biff::StringPosition> buckets;

    std::string& out = stream.buffer();
    OpenRecord record{out.size(), 8};
    biff::writeSstHeader(out, 0, static_cast<std::uint32_t>(strings.references()),
                         static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        std::string_view text = strings.at(i);
        const biff::StringShape shape = biff::shapeOf(text);
        if (shape.units > kMaxStringUnits)
            return Status::failure("a cell holds more than 32767 characters, the most a cell can hold");
        const std::size_t width = shape.wide ? 2 : 1;

        // A string starts where its header and first character fit; it never starts empty-handed at
        // the end of a record.
        if (record.used + startBytes(text, shape) > kMaxRecordData) {
            closeRecord(out, record);
            record = openContinue(stream);
        }
        if (i % perBucket == 0 && buckets.size() < kMaxBuckets) {
            buckets.push_back(
                {static_cast<std::uint32_t>(stream.position()), static_cast<std::uint16_t>(4 + record.used)});
        }
        out += static_cast<char>(shape.units & 0xFF);
        out += static_cast<char>(shape.units >> 8);
        out += static_cast<char>(shape.wide ? 1 : 0);
        record.used += 3;

        // The characters, continued in further records as needed. Each continuation starts with the
        // string's width flag again.
        for (;;) {
            std::size_t next;
            const std::size_t units =
                biff::writeCharacters(out, text, shape.wide, (kMaxRecordData - record.used) / width, next);
            record.used += units * width;
            text.remove_prefix(next);
            if (text.empty())
                break;
            closeRecord(out, record);
            record = openContinue(stream);
            out += static_cast<char>(shape.wide ? 1 : 0);
            record.used = 1;
        }
    }
    closeRecord(out, record);
    biff::writeExtSst(out, static_cast<std::uint16_t>(perBucket), buckets);
    stream.flushIfFull();
    return Status::success();
}

} // namespace spreadsheet
