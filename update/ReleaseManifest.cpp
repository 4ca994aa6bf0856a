#include "update/ReleaseManifest.h"

#include "platform/FileAccess.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

namespace release {

namespace {

constexpr char kFirstLine[] = "Quillmark release\n";
constexpr char kSignatureKey[] = "signature=";
constexpr std::size_t kPieceBytes = 64 * 1024;
constexpr std::size_t kMaxVersionNumbers = 8;
constexpr std::size_t kMaxNumberDigits = 9; // fits an int, and compares as a number
constexpr std::size_t kMaxVersionLength = kMaxVersionNumbers * (kMaxNumberDigits + 1);

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLowerHex(std::string_view text, std::size_t length)
{
    return text.size() == length &&
           std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c) || (c >= 'a' && c <= 'f'); });
}

// The numbers of a version, in order.
std::vector<long> numbersOf(std::string_view version)
{
    std::vector<long> numbers{0};
    for (char c : version) {
        if (c == '.')
            numbers.push_back(0);
        else
            numbers.back() = numbers.back() * 10 + (c - '0');
    }
    return numbers;
}

bool readDecimal(std::string_view text, long long& value)
{
    if (text.empty() || text.size() > 15 || !std::all_of(text.begin(), text.end(), isDigit))
        return false;
    value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return true;
}

} // namespace

bool isVersion(std::string_view text)
{
    std::size_t numbers = 0;
    while (true) {
        std::size_t digits = 0;
        while (digits < text.size() && isDigit(text[digits]))
            ++digits;
        if (digits == 0 || digits > kMaxNumberDigits || ++numbers > kMaxVersionNumbers)
            return false;
        text.remove_prefix(digits);
        if (text.empty())
            return true;
        if (text.front() != '.')
            return false;
        text.remove_prefix(1);
    }
}

int compareVersions(std::string_view a, std::string_view b)
{
    std::vector<long> left = numbersOf(a), right = numbersOf(b);
    const std::size_t size = std::max(left.size(), right.size());
    left.resize(size, 0);
    right.resize(size, 0);
    return left < right ? -1 : left > right ? 1 : 0;
}

std::string signedManifest(const Manifest& manifest, const SecretKey& secretKey)
{
    if (!isVersion(manifest.version) || manifest.archiveBytes <= 0 ||
        !isLowerHex(manifest.archiveSha512, 128))
        return {};
    const std::string body = std::string(kFirstLine) + "version=" + manifest.version +
                             "\narchive-bytes=" + std::to_string(manifest.archiveBytes) +
                             "\narchive-sha512=" + manifest.archiveSha512 + "\n";
    const std::string signature = sign(body, secretKey);
    if (signature.size() != kSignatureBytes)
        return {};
    std::string hex(2 * kSignatureBytes + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(signature.data()),
                   signature.size());
    hex.pop_back();
    return body + kSignatureKey + hex + "\n";
}

bool readSignedManifest(std::string_view text, const std::vector<PublicKey>& keys, Manifest& manifest)
{
    manifest = Manifest();
    if (text.size() > kManifestMaxBytes || text.substr(0, sizeof kFirstLine - 1) != kFirstLine)
        return false;
    // The signature line is the last one, and the only one of its name.
    const std::size_t signatureAt = text.find(std::string("\n") + kSignatureKey);
    if (signatureAt == std::string_view::npos)
        return false;
    const std::string_view body = text.substr(0, signatureAt + 1);
    std::string_view signatureHex = text.substr(signatureAt + 1 + sizeof kSignatureKey - 1);
    if (signatureHex.empty() || signatureHex.back() != '\n')
        return false;
    signatureHex.remove_suffix(1);
    std::string signature(kSignatureBytes, '\0');
    std::size_t length = 0;
    const char* end = nullptr;
    if (signatureHex.size() != 2 * kSignatureBytes || sodium_init() < 0 ||
        sodium_hex2bin(reinterpret_cast<unsigned char*>(signature.data()), signature.size(),
                       signatureHex.data(), signatureHex.size(), nullptr, &length, &end) != 0 ||
        length != kSignatureBytes || end != signatureHex.data() + signatureHex.size())
        return false;
    if (!signatureValid(body, signature, keys))
        return false;

    // Only signed text is read from here on. Each known name once; others are left to later programs.
    bool haveVersion = false, haveBytes = false, haveDigest = false;
    std::string_view lines = body.substr(sizeof kFirstLine - 1);
    while (!lines.empty()) {
        const std::size_t lineEnd = lines.find('\n'); // the body ends with one
        const std::string_view line = lines.substr(0, lineEnd);
        lines.remove_prefix(lineEnd + 1);
        const std::size_t equals = line.find('=');
        const std::string_view name = line.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
        if (name == "version") {
            if (haveVersion || !isVersion(value))
                return false;
            manifest.version = std::string(value);
            haveVersion = true;
        } else if (name == "archive-bytes") {
            if (haveBytes || !readDecimal(value, manifest.archiveBytes) || manifest.archiveBytes <= 0)
                return false;
            haveBytes = true;
        } else if (name == "archive-sha512") {
            if (haveDigest || !isLowerHex(value, 128))
                return false;
            manifest.archiveSha512 = std::string(value);
            haveDigest = true;
        }
    }
    if (haveVersion && haveBytes && haveDigest)
        return true;
    manifest = Manifest();
    return false;
}

bool fileSha512(const std::string& path, long long maxBytes, long long& bytes, std::string& sha512Hex)
{
    bytes = 0;
    sha512Hex.clear();
    const std::unique_ptr<std::FILE, FileCloser> file(platform::openFile(path, "rb"));
    if (!file || sodium_init() < 0)
        return false;
    crypto_hash_sha512_state state;
    crypto_hash_sha512_init(&state);
    std::vector<unsigned char> piece(kPieceBytes);
    std::size_t got = 0;
    while ((got = std::fread(piece.data(), 1, piece.size(), file.get())) > 0) {
        bytes += static_cast<long long>(got);
        if (bytes > maxBytes)
            return false;
        crypto_hash_sha512_update(&state, piece.data(), got);
    }
    if (std::ferror(file.get()))
        return false;
    unsigned char digest[crypto_hash_sha512_BYTES];
    crypto_hash_sha512_final(&state, digest);
    sha512Hex.assign(2 * sizeof digest + 1, '\0');
    sodium_bin2hex(sha512Hex.data(), sha512Hex.size(), digest, sizeof digest);
    sha512Hex.pop_back();
    return true;
}

bool versionOfExecutable(const std::string& path, std::string& version, std::string& error)
{
    version.clear();
    const std::unique_ptr<std::FILE, FileCloser> file(platform::openFile(path, "rb"));
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    // Pieces overlap by a whole record, so that none is missed where two pieces meet; a record seen twice
    // counts once.
    const std::string_view marker(kVersionMarker);
    const std::size_t overlap = marker.size() + kMaxVersionLength + 1;
    std::set<std::string> found;
    std::string window;
    std::vector<char> piece(kPieceBytes);
    std::size_t got = 0;
    bool last = false;
    while (!last) {
        got = std::fread(piece.data(), 1, piece.size(), file.get());
        last = got < piece.size();
        window.append(piece.data(), got);
        for (std::size_t at = window.find(marker); at != std::string::npos;
             at = window.find(marker, at + 1)) {
            const std::size_t start = at + marker.size();
            const std::size_t nul = window.find('\0', start);
            if (nul == std::string::npos || nul - start > kMaxVersionLength)
                continue; // cut by the window's end (seen again in the next one), or no record
            const std::string_view candidate(window.data() + start, nul - start);
            if (isVersion(candidate))
                found.insert(std::string(candidate));
        }
        if (window.size() > overlap)
            window.erase(0, window.size() - overlap);
    }
    if (std::ferror(file.get())) {
        error = "cannot read " + path;
        return false;
    }
    if (found.size() != 1) {
        error = found.empty() ? path + " records no version: give it with --version"
                              : path + " records more than one version: give it with --version";
        return false;
    }
    version = *found.begin();
    return true;
}

} // namespace release
