#include "spreadsheet/read/SheetName.h"

#include "spreadsheet/read/TextDecoding.h"

#include <cstring>

namespace spreadsheet {

std::string sheetNameFor(const std::string& fileBaseName)
{
    constexpr std::size_t kMaxCharacters = 31;
    // A file name need not be UTF-8 (GBK bytes on a UTF-8 file system): its broken bytes become U+FFFD.
    std::string text = fileBaseName;
    decodeToUtf8(text, TextEncoding::Utf8);
    const std::string& baseName = text;
    std::string name;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < baseName.size() && characters < kMaxCharacters;) {
        const unsigned char lead = static_cast<unsigned char>(baseName[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (i + length > baseName.size())
            length = baseName.size() - i;
        // Control characters (a line feed is allowed in a file name) cannot stand in a sheet name either.
        if (length == 1 && (lead < 0x20 || lead == 0x7F || std::strchr("[]:*?/\\", static_cast<char>(lead)))) {
            ++i;
            continue;
        }
        // Characters outside the basic plane count twice, as the 31-character limit is in UTF-16 units.
        const std::size_t units = length == 4 ? 2 : 1;
        if (characters + units > kMaxCharacters)
            break;
        name.append(baseName, i, length);
        characters += units;
        i += length;
    }
    while (!name.empty() && name.front() == '\'')
        name.erase(0, 1);
    while (!name.empty() && name.back() == '\'')
        name.pop_back();
    if (name.empty())
        name = "Sheet1";
    return name;
}

} // namespace spreadsheet
