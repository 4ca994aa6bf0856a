// The update's reading of the version reply (GetJsonValue, into an output of the size given) and its
// checks of archive entry names: what the value holds is bounded by the output, and a name that passes
// the entry check never climbs out of the folder it is unpacked into.

#include "FuzzSupport.h"

#include "update/UpdateSteps.h"

#include <QDir>
#include <QString>

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    const std::size_t outputSize = 1 + input.byte() % 40;
    const auto key = fuzz::exactCopy(input.piece());
    const std::string rest = input.rest();
    const auto text = fuzz::exactCopy(rest);

    auto output = std::make_unique<char[]>(outputSize);
    for (const char* name : {"Quillmark", static_cast<const char*>(key.get())}) {
        const bool found = GetJsonValue(output.get(), outputSize, text.get(), name);
        const std::size_t length = strnlen(output.get(), outputSize);
        if (length == outputSize || (!found && length != 0))
            std::abort(); // unterminated, or a value reported missing but written
        if (found && isMd5Digest(output.get()) && length != 32)
            std::abort();
    }

    const QString entry = QString::fromUtf8(rest.data(), static_cast<int>(rest.size()));
    if (archiveEntryStaysInside(entry)) {
        QString cleaned = entry;
        cleaned.replace(QLatin1Char('\\'), QLatin1Char('/'));
        cleaned = QDir::cleanPath(cleaned);
        if (cleaned == QLatin1String("..") || cleaned.startsWith(QLatin1String("../")) ||
            cleaned.startsWith(QLatin1Char('/')))
            std::abort(); // accepted, yet it leaves the folder
    }
    replacesSettingsFile(entry);
    return 0;
}
