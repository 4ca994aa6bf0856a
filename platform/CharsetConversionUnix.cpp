#include "platform/CharsetConversion.h"

#include <cerrno>
#include <iconv.h>

namespace platform {

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

} // namespace

struct CharsetConversion::Converter
{
    explicit Converter(iconv_t h) : handle(h) {}
    ~Converter() { iconv_close(handle); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    iconv_t handle;
};

CharsetConversion::CharsetConversion(const char* encoding)
{
    iconv_t raw = iconv_open("UTF-8", encoding);
    if (raw != reinterpret_cast<iconv_t>(-1))
        converter_ = std::make_unique<Converter>(raw);
}

CharsetConversion::~CharsetConversion() = default;

bool CharsetConversion::isOpen() const { return converter_ != nullptr; }

std::size_t CharsetConversion::decode(const char* first, const char* last, bool final, std::string& out)
{
    if (!converter_) {
        // Without a converter every byte would be lost; keep them as they are instead.
        out.append(first, last);
        return 0;
    }
    std::string joined;
    if (!pending_.empty()) {
        joined = std::move(pending_);
        pending_.clear();
        joined.append(first, last);
        first = joined.data();
        last = first + joined.size();
    }
    iconv_t raw = converter_->handle;
    char* in = const_cast<char*>(first); // iconv's signature; it does not write the input
    std::size_t inLeft = static_cast<std::size_t>(last - first);
    std::size_t replaced = 0;
    // Through a small buffer: appending to `out` touches only the memory the text really needs.
    char buffer[1 << 16];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(raw, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1))
            break;
        if (error == E2BIG)
            continue;
        if (error == EINVAL && !final) {
            pending_.assign(in, inLeft); // a character cut at the end of the piece
            break;
        }
        // EILSEQ, or EINVAL at the end of the text: replace one byte and go on.
        out += kReplacementCharacter;
        ++replaced;
        ++in;
        --inLeft;
        iconv(raw, nullptr, nullptr, nullptr, nullptr); // reset the shift state
    }
    return replaced;
}

} // namespace platform
