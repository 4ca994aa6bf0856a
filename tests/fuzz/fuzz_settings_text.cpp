// The settings file and the text routines on buffers of exactly the size they are given: texts, markers
// and outputs each in a heap block of its own size, so that a read or write past any of them is caught.

#include "FuzzSupport.h"

#include "app/SettingsFile.h"
#include "app/TextRoutines.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    const std::uint8_t routine = input.byte();
    const std::size_t outputSize = 1 + input.byte() % 48;
    const std::uint8_t flags = input.byte();
    const auto text = fuzz::exactCopy(input.piece());
    const auto first = fuzz::exactCopy(input.piece());
    const auto second = fuzz::exactCopy(input.piece());
    auto output = std::make_unique<char[]>(outputSize);
    const int keepStart = flags & 1, keepEnd = (flags >> 1) & 1;
    const bool fromLast = flags & 4, endFromLast = flags & 8;

    switch (routine % 6) {
    case 0:
        TextAfter(output.get(), outputSize, text.get(), first.get(), keepStart, fromLast);
        break;
    case 1:
        TextBefore(output.get(), outputSize, text.get(), first.get(), keepStart, fromLast);
        break;
    case 2: {
        const int found = TextBetween(output.get(), outputSize, text.get(), first.get(), second.get(),
                                      keepStart, keepEnd, fromLast, endFromLast);
        // With the start marker kept, a result always begins with it (as far as the output holds it).
        if (found > 0 && keepStart &&
            std::strncmp(output.get(), first.get(), std::min(std::strlen(first.get()), outputSize - 1)) != 0)
            std::abort();
        break;
    }
    case 3:
        TrimBlanks(text.get());
        break;
    case 4:
        GetSettingValue(output.get(), outputSize, text.get(), first.get());
        break;
    default: {
        // A settings file holding the text: one key rewritten, then read back into a buffer of the size
        // given.
        const std::string path = fuzz::scratchFolder() + "Quillmark.qmk";
        fuzz::writeFile(path, text.get());
        SetSettingValue(path.c_str(), first.get(), second.get());
        ReadSettingsFile(output.get(), outputSize, path.c_str());
        std::remove(path.c_str());
        break;
    }
    }
    if (routine % 6 != 3 && std::memchr(output.get(), '\0', outputSize) == nullptr)
        std::abort(); // every output is terminated inside its buffer
    return 0;
}
