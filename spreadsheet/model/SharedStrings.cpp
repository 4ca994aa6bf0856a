#include "spreadsheet/model/SharedStrings.h"

#include "spreadsheet/model/ShortBytes.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace spreadsheet {

namespace {

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

std::uint32_t SharedStrings::add(std::string_view text, std::size_t hash, bool transient)
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
            if (transient)
                strings_.push_back(owned_.emplace_back(text));
            else
                strings_.push_back(copyShortTexts_ ? keep(text) : text);
            slots_[slot] = slotFor(hash, strings_.size() - 1);
            return static_cast<std::uint32_t>(strings_.size() - 1);
        }
        if ((value & ~std::uint64_t(0xFFFFFFFF)) == hashHigh) {
            const std::string_view known = strings_[entry - 1];
            if (known.size() == text.size() && sameBytes(known.data(), text.data(), text.size()))
                return entry - 1;
        }
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

} // namespace spreadsheet
