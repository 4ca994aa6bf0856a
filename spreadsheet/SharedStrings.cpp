#include "SharedStrings.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace spreadsheet {

namespace {

constexpr std::size_t kMaxStringUnits = 32767;
constexpr std::size_t kShortText = 64;
constexpr std::size_t kCopyBlock = 64 << 10;

void prefetchAddress(const void* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

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

std::size_t SharedStrings::hashOf(std::string_view text)
{
    return std::hash<std::string_view>{}(text);
}

void SharedStrings::prefetch(std::size_t hash, int step) const
{
    const std::uint64_t* slot = &slots_[hash & (slots_.size() - 1)];
    const std::uint32_t entry = static_cast<std::uint32_t>(*slot);
    if (step == 0)
        prefetchAddress(slot);
    else if (entry != 0)
        prefetchAddress(step == 1 ? static_cast<const void*>(&strings_[entry - 1]) : strings_[entry - 1].data());
}

std::uint32_t SharedStrings::add(std::string_view text, std::size_t hash)
{
    ++references_;
    if ((strings_.size() + 1) * 2 > slots_.size())
        grow();
    const std::size_t mask = slots_.size() - 1;
    const std::uint64_t hashHigh = slotFor(hash, 0) & ~std::uint64_t(0xFFFFFFFF);
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint64_t value = slots_[slot];
        const std::uint32_t entry = static_cast<std::uint32_t>(value);
        if (entry == 0) {
            strings_.push_back(copyShortTexts_ ? keep(text) : text);
            slots_[slot] = slotFor(hash, strings_.size() - 1);
            return static_cast<std::uint32_t>(strings_.size() - 1);
        }
        if ((value & ~std::uint64_t(0xFFFFFFFF)) == hashHigh && strings_[entry - 1] == text)
            return entry - 1;
    }
}

std::string_view SharedStrings::keep(std::string_view text)
{
    if (text.size() > kShortText)
        return text;
    if (copies_.empty() || kCopyBlock - copyBlockUsed_ < text.size()) {
        copies_.push_back(std::make_unique<char[]>(kCopyBlock));
        copyBlockUsed_ = 0;
    }
    char* copy = copies_.back().get() + copyBlockUsed_;
    std::memcpy(copy, text.data(), text.size());
    copyBlockUsed_ += text.size();
    return std::string_view(copy, text.size());
}

void SharedStrings::grow()
{
    std::vector<std::uint64_t> slots(slots_.size() * 2, 0);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = 0; i < strings_.size(); ++i) {
        const std::size_t hash = hashOf(strings_[i]);
        std::size_t slot = hash & mask;
        while (slots[slot] != 0)
            slot = (slot + 1) & mask;
        slots[slot] = slotFor(hash, i);
    }
    slots_.swap(slots);
}

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
