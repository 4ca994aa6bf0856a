#include "app/SettingsFile.h"

#include "app/TextRoutines.h"
#include "platform/FileAccess.h"
#include "platform/FileNameEncoding.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

int ReadSettingsFile(char* buffer, std::size_t size, const char* path)
{
    const std::unique_ptr<std::FILE, FileCloser> file(path ? platform::openFile(path, "rb") : nullptr);
    if (!file || size == 0)
        return -1;
    const std::size_t read = std::fread(buffer, 1, size - 1, file.get());
    buffer[read] = '\0';
    return 0;
}

void GetSettingValue(char* output, std::size_t outputSize, const char* text, const char* key)
{
    if (!output || outputSize == 0)
        return;
    output[0] = '\0';
    if (!text || !key)
        return;
    const std::string_view all(text);
    const std::string marker = std::string(key) + '=';
    const std::size_t at = all.find(marker);
    if (at == std::string_view::npos)
        return;
    const std::size_t start = at + marker.size();
    const std::size_t end = all.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
        return; // a line cut by the end of the text may be cut short
    const std::size_t length = std::min(end - start, outputSize - 1);
    std::memcpy(output, all.data() + start, length);
    output[length] = '\0';
    TrimBlanks(output);
}

int SetSettingValue(const char* path, const char* key, const char* value)
{
    const QString fileName = platform::fileNameFromBytes(path);
    QFile old(fileName);
    if (!old.open(QIODevice::ReadOnly))
        return -1;
    // Only a file read whole may be rewritten: anything else would lose what was not read.
    const qint64 size = old.size();
    if (size < 0 || size > kSettingsFileMaxBytes)
        return -1;
    const QByteArray oldText = old.read(size + 1);
    if (oldText.size() != size || old.error() != QFileDevice::NoError)
        return -1;
    old.close();

    const QByteArray marker = QByteArray(key) + '=';
    QByteArray entry = marker + value;
    QByteArray newText;
    const int at = oldText.indexOf(marker);
    const auto isLineEnd = [](char c) { return c == '\r' || c == '\n'; };
    if (at >= 0) {
        // The entry's line is replaced up to its line end, which stays as the file has it: CR LF, LF or CR.
        int lineEnd = at + marker.size();
        while (lineEnd < oldText.size() && !isLineEnd(oldText[lineEnd]))
            ++lineEnd;
        const int endLength = lineEnd >= oldText.size() ? 0 : oldText.mid(lineEnd, 2) == "\r\n" ? 2 : 1;
        entry += endLength == 0 ? QByteArray("\r\n") : oldText.mid(lineEnd, endLength);
        newText = oldText.left(at) + entry + oldText.mid(lineEnd + endLength);
    } else {
        entry += "\r\n";
        if (oldText.isEmpty() || !isLineEnd(oldText.back()))
            entry.prepend("\r\n");
        newText = oldText + entry;
    }
    if (static_cast<std::size_t>(entry.size()) > kSettingEntryRoom)
        return -1;

    // Never write into the old file: a crash or a full disk half-way would leave it empty or cut.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(newText) != newText.size())
        return -1;
    return file.commit() ? 0 : -1;
}
