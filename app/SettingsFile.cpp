#include "app/SettingsFile.h"

#include "app/TextRoutines.h"
#include "platform/FileAccess.h"
#include "platform/FileNameEncoding.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <memory>
#include <string>

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
    const std::string marker = std::string(key) + '=';
    TextBetween(output, outputSize, text, marker.c_str(), "\r\n", 0, 0, false, false);
    TrimBlanks(output);
}

int SetSettingValue(const char* path, const char* key, const char* value)
{
    const QString fileName = platform::fileNameFromBytes(path);
    QFile old(fileName);
    if (!old.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray oldText = old.readAll();
    old.close();

    const QByteArray marker = QByteArray(key) + '=';
    QByteArray entry = marker + value + "\r\n";
    QByteArray newText;
    const int at = oldText.indexOf(marker);
    if (at >= 0) {
        const int lineEnd = oldText.indexOf("\r\n", at + marker.size());
        newText = oldText.left(at) + entry + (lineEnd >= 0 ? oldText.mid(lineEnd + 2) : QByteArray());
    } else {
        if (!oldText.endsWith('\n'))
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
