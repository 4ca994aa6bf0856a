#include "update/UpdateSteps.h"

#include "platform/FileAccess.h"
#include "platform/FileNameEncoding.h"
#include "update/FileHelpers.h"
#include "update/HttpClient.h"
#include "update/ReleaseArchive.h"

#include <quazip/quazip.h>
#include <quazip/quazipfileinfo.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

std::string_view trimmed(std::string_view text, std::string_view characters)
{
    const std::size_t first = text.find_first_not_of(characters);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

} // namespace

bool GetJsonValue(char* output, std::size_t outputSize, const char* text, const char* key)
{
    if (!output || outputSize == 0)
        return false;
    output[0] = '\0';
    if (!text || !key)
        return false;
    const std::string_view all(text);
    const std::string marker = '"' + std::string(key) + '"';
    const std::size_t at = all.find(marker);
    if (at == std::string_view::npos)
        return false;
    const std::string_view rest = all.substr(at + marker.size());
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view afterColon = rest.substr(colon + 1);
    // A comma anywhere behind the key means another member follows; otherwise this is the last member.
    const std::size_t end =
        rest.find(',') != std::string_view::npos ? afterColon.find(',') : afterColon.rfind('}');
    if (end == std::string_view::npos)
        return false;
    std::string_view value = trimmed(afterColon.substr(0, end), " \t");
    value.remove_prefix(std::min(value.find_first_not_of('"'), value.size()));
    const std::size_t lastNonQuote = value.find_last_not_of('"');
    value = value.substr(0, lastNonQuote == std::string_view::npos ? 0 : lastNonQuote + 1);
    if (value.size() >= outputSize)
        return false;
    if (!value.empty()) // an empty value may have no data at all, and memcpy takes no null pointer
        std::memcpy(output, value.data(), value.size());
    output[value.size()] = '\0';
    return true;
}

std::string oldCopyPath(const std::string& startPath)
{
    const std::size_t lastSeparator = platform::lastPathSeparator(startPath);
    const std::size_t nameStart = lastSeparator == std::string::npos ? 0 : lastSeparator + 1;
    if (startPath.find(".exe", nameStart) == std::string::npos)
        return startPath + "_old";
    std::vector<char> path(startPath.c_str(), startPath.c_str() + startPath.size() + 1);
    replaceLast(path.data(), path.size(), ".exe", "_old"); // same length: always fits
    return path.data();
}

bool archiveEntryStaysInside(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')))
        return false;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':')) // C:x and C:\x name a drive on Windows
        return false;
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return !name.split(separators).contains(QStringLiteral(".."));
}

bool archiveStaysInside(const QString& archivePath, const UnpackLimits& limits)
{
    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdUnzip))
        return false;
    const QList<QuaZipFileInfo64> entries = zip.getFileInfoList64();
    if (zip.getZipError() != 0)
        return false;
    if (entries.size() > limits.maxEntries)
        return false;
    // The sizes the archive states bound what unpacking writes: an entry is never read past its stated size.
    unsigned long long total = 0;
    for (const QuaZipFileInfo64& entry : entries) {
        if (!archiveEntryStaysInside(entry.name) || entry.isSymbolicLink())
            return false;
        if (entry.uncompressedSize > limits.maxBytes - total)
            return false;
        total += entry.uncompressedSize;
    }
    return true;
}

bool isMd5Digest(const char* text)
{
    if (!text || std::strlen(text) != 32)
        return false;
    return std::all_of(text, text + 32, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool sameDigest(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

bool replacesSettingsFile(const QString& name)
{
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::cleanPath(path).compare(QLatin1String("Quillmark.qmk"), Qt::CaseInsensitive) == 0;
}

ReleaseVerdict judgeRelease(const std::string& archivePath, const release::Manifest& manifest,
                            const char* announcedDigest, const UnpackLimits& limits)
{
    long long bytes = 0;
    std::string sha512;
    if (manifest.archiveBytes <= 0 ||
        !release::fileSha512(archivePath, manifest.archiveBytes, bytes, sha512) ||
        bytes != manifest.archiveBytes || sha512 != manifest.archiveSha512)
        return ReleaseVerdict::BadSignature;
    const QString archive = platform::fileNameFromBytes(archivePath.c_str());
    if (!archiveStaysInside(archive, limits))
        return ReleaseVerdict::EntryOutside;
    const QByteArray digest = archivedExecutableDigest(archive);
    if (digest.isEmpty() || !sameDigest(digest.constData(), announcedDigest))
        return ReleaseVerdict::DigestDiffers;
    return ReleaseVerdict::Genuine;
}

bool serverAnswered(int httpResult)
{
    return httpResult != kHttpSocketFailed && httpResult != kHttpConnectFailed &&
           httpResult != kHttpResolveFailed;
}

std::string downloadAddress(const std::string& downloadPrefix, std::int64_t secondsSince1970)
{
    return downloadPrefix + "Quillmark.zip?t=" + std::to_string(secondsSince1970);
}

std::string manifestAddress(const std::string& downloadPrefix, std::int64_t secondsSince1970)
{
    return downloadPrefix + "Quillmark.release?t=" + std::to_string(secondsSince1970);
}
