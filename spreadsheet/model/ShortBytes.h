#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace spreadsheet {

// Copying, comparing and searching the few bytes of a field or a row, inline. The fields of a file are
// mostly a few bytes long and each is copied and compared once or more, so a call into the C library per
// field costs more than the work. On Windows it cost a fifth of reading a file and writing its workbook:
// the C runtime there (msvcrt, and Wine's) copies and compares short blocks and searches a byte at a time.
// Fixed-size std::memcpy is how C++ loads and stores unaligned words: compilers make it one instruction.

namespace shortbytes {

inline std::uint64_t load8(const char* p)
{
    std::uint64_t value;
    std::memcpy(&value, p, 8);
    return value;
}

inline std::uint32_t load4(const char* p)
{
    std::uint32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

} // namespace shortbytes

/// std::memmove of `size` bytes, for blocks that may overlap. Up to 32 bytes, every byte is loaded before
/// the first is stored (the first and last words, which overlap when the block is shorter than two).
inline void moveBytes(char* to, const char* from, std::size_t size)
{
    using namespace shortbytes;
    if (size >= 16) {
        if (size > 32) {
            std::memmove(to, from, size);
            return;
        }
        const std::uint64_t a = load8(from), b = load8(from + 8);
        const std::uint64_t c = load8(from + size - 16), d = load8(from + size - 8);
        std::memcpy(to, &a, 8);
        std::memcpy(to + 8, &b, 8);
        std::memcpy(to + size - 16, &c, 8);
        std::memcpy(to + size - 8, &d, 8);
    } else if (size >= 8) {
        const std::uint64_t a = load8(from), b = load8(from + size - 8);
        std::memcpy(to, &a, 8);
        std::memcpy(to + size - 8, &b, 8);
    } else if (size >= 4) {
        const std::uint32_t a = load4(from), b = load4(from + size - 4);
        std::memcpy(to, &a, 4);
        std::memcpy(to + size - 4, &b, 4);
    } else if (size > 0) {
        const char a = from[0], b = from[size / 2], c = from[size - 1];
        to[0] = a;
        to[size / 2] = b;
        to[size - 1] = c;
    }
}

/// True when the `size` bytes at `a` and at `b` are the same.
inline bool sameBytes(const char* a, const char* b, std::size_t size)
{
    using namespace shortbytes;
    if (size >= 16) {
        if (size > 32)
            return std::memcmp(a, b, size) == 0;
        return ((load8(a) ^ load8(b)) | (load8(a + 8) ^ load8(b + 8)) | (load8(a + size - 16) ^ load8(b + size - 16)) |
                (load8(a + size - 8) ^ load8(b + size - 8))) == 0;
    }
    if (size >= 8)
        return ((load8(a) ^ load8(b)) | (load8(a + size - 8) ^ load8(b + size - 8))) == 0;
    if (size >= 4)
        return ((load4(a) ^ load4(b)) | (load4(a + size - 4) ^ load4(b + size - 4))) == 0;
    return size == 0 || (a[0] == b[0] && a[size / 2] == b[size / 2] && a[size - 1] == b[size - 1]);
}

/// The first `byte` in [first, last), or null.
inline const char* findByte(const char* first, const char* last, char byte)
{
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(byte);
    for (; last - first >= 16; first += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted));
        if (mask != 0)
            return first + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    for (; first < last; ++first) {
        if (*first == byte)
            return first;
    }
    return nullptr;
}

} // namespace spreadsheet
