#include "update/FileHelpers.h"

#include "platform/FileAccess.h"
#include "platform/FileLookup.h"
#include "platform/ProgramStart.h"

#include <QCryptographicHash>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

bool fileExists(const char* path)
{
    return platform::anyFileMatches(path);
}

int fileMd5Hex(char* output, std::size_t outputSize, const char* path)
{
    if (!output || outputSize < 33 || !path)
        return -1;
    std::unique_ptr<std::FILE, FileCloser> file(platform::openFile(path, "rb"));
    if (!file)
        return -1;
    QCryptographicHash md5(QCryptographicHash::Md5);
    char block[1024];
    std::size_t count = 0;
    while ((count = std::fread(block, 1, sizeof block, file.get())) > 0)
        md5.addData(block, static_cast<int>(count));
    // A folder opens here but cannot be read: only a file read to its end has a digest.
    if (std::ferror(file.get()))
        return -1;
    const QByteArray hex = md5.result().toHex();
    std::memcpy(output, hex.constData(), 32);
    output[32] = '\0';
    return 0;
}

bool replaceLast(char* text, std::size_t textSize, const char* find, const char* replacement)
{
    if (!text || !find || !*find || !replacement)
        return false;
    const std::size_t findLength = std::strlen(find);
    const char* last = nullptr;
    for (const char* at = std::strstr(text, find); at; at = std::strstr(at + findLength, find))
        last = at;
    if (!last)
        return false;
    const std::size_t textLength = std::strlen(text);
    const std::size_t replacementLength = std::strlen(replacement);
    if (textLength - findLength + replacementLength >= textSize)
        return false;
    const std::string tail(last + findLength);
    char* end = text + (last - text);
    std::memcpy(end, replacement, replacementLength);
    std::memcpy(end + replacementLength, tail.c_str(), tail.size() + 1);
    return true;
}

void intToDecimal(std::int32_t value, char* output, std::size_t outputSize)
{
    if (!output || outputSize == 0)
        return;
    const std::string digits = std::to_string(value);
    if (digits.size() >= outputSize) {
        output[0] = '\0';
        return;
    }
    std::memcpy(output, digits.c_str(), digits.size() + 1);
}

int runProgram(const char* path, const char* commandLine, int showState)
{
    return platform::startProgram(path, commandLine, showState) ? 0 : -1;
}
