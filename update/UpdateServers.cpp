#include "update/UpdateServers.h"

#include <cstddef>

// The server addresses are stored XOR-ed with a key stream, so that they do not stand in the executable as
// readable text. This keeps them out of a casual look at the file; it is no secret from a determined reader.

namespace {

constexpr unsigned char keyByte(std::size_t i)
{
    // A small multiplicative hash of the position: different for every byte, fixed for every build.
    return static_cast<unsigned char>(((i + 17u) * 2654435761u) >> 11);
}

template <std::size_t N> struct Enciphered
{
    char bytes[N] = {};
};

template <std::size_t N> constexpr Enciphered<N> encipher(const char (&text)[N])
{
    Enciphered<N> result;
    for (std::size_t i = 0; i < N; ++i)
        result.bytes[i] = static_cast<char>(static_cast<unsigned char>(text[i]) ^ keyByte(i));
    return result;
}

template <std::size_t N> std::string decipher(const Enciphered<N>& enciphered)
{
    std::string text(N - 1, '\0');
    for (std::size_t i = 0; i + 1 < N; ++i)
        text[i] = static_cast<char>(static_cast<unsigned char>(enciphered.bytes[i]) ^ keyByte(i));
    return text;
}

// Constant expressions: only the enciphered bytes reach the executable. The names lie under the reserved
// domain .invalid until the release servers have names of their own.
constexpr auto kPrimaryHost = encipher("update.quillmark.invalid");
constexpr auto kPrimaryVersionPath = encipher("/version");
constexpr auto kPrimaryDownloadPrefix = encipher("http://update.quillmark.invalid/");
constexpr auto kBackupHost = encipher("mirror.quillmark.invalid");
constexpr auto kBackupVersionPath = encipher("/version");
constexpr auto kBackupDownloadPrefix = encipher("http://mirror.quillmark.invalid/");

} // namespace

std::array<UpdateServer, 2> programUpdateServers()
{
    return {UpdateServer{decipher(kPrimaryHost), 80, decipher(kPrimaryVersionPath),
                         decipher(kPrimaryDownloadPrefix)},
            UpdateServer{decipher(kBackupHost), 80, decipher(kBackupVersionPath),
                         decipher(kBackupDownloadPrefix)}};
}
