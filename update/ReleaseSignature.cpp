#include "update/ReleaseSignature.h"

#include "platform/FileAccess.h"
#include "platform/PrivateFile.h"

#include <sodium.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace release {

namespace {

bool started()
{
    static const bool ok = sodium_init() >= 0; // thread-safe; 1 when already started
    return ok;
}

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads hex digits (and a final line end) into exactly `size` bytes.
bool fromHex(std::string_view text, unsigned char* bytes, std::size_t size)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    std::size_t length = 0;
    const char* end = nullptr;
    return text.size() == 2 * size &&
           sodium_hex2bin(bytes, size, text.data(), text.size(), nullptr, &length, &end) == 0 &&
           length == size && end == text.data() + text.size();
}

std::string hexOf(const unsigned char* bytes, std::size_t size)
{
    std::string hex(2 * size + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

// A key file's text, at most `limit` bytes of it; false when it cannot be read.
bool readSmallFile(const std::string& path, std::string& text, std::size_t limit)
{
    std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
    if (!file)
        return false;
    text.assign(limit + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return !file.bad() && text.size() <= limit;
}

} // namespace

SecretKey::~SecretKey()
{
    sodium_memzero(bytes_.data(), bytes_.size());
}

bool generateKeyPair(PublicKey& publicKey, SecretKey& secretKey)
{
    return started() && crypto_sign_keypair(publicKey.data(), secretKey.data()) == 0;
}

std::string sign(std::string_view message, const SecretKey& secretKey)
{
    static_assert(crypto_sign_BYTES == kSignatureBytes && crypto_sign_SECRETKEYBYTES == kSecretKeyBytes &&
                      crypto_sign_PUBLICKEYBYTES == kPublicKeyBytes,
                  "the sizes are those of Ed25519");
    if (!started())
        return {};
    std::string signature(kSignatureBytes, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                         secretKey.data());
    return signature;
}

bool signatureValid(std::string_view message, std::string_view signature, const std::vector<PublicKey>& keys)
{
    if (signature.size() != kSignatureBytes || !started())
        return false;
    for (const PublicKey& key : keys) {
        if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                        reinterpret_cast<const unsigned char*>(message.data()),
                                        message.size(), key.data()) == 0)
            return true;
    }
    return false;
}

std::string toHex(const PublicKey& key)
{
    return hexOf(key.data(), key.size());
}

bool publicKeyFromHex(std::string_view hex, PublicKey& key)
{
    return fromHex(hex, key.data(), key.size());
}

std::string publicKeyPath(const std::string& secretKeyPath)
{
    return secretKeyPath + ".pub";
}

std::string writeKeyFiles(const std::string& secretKeyPath, PublicKey& publicKey)
{
    SecretKey secretKey;
    if (!generateKeyPair(publicKey, secretKey))
        return "the signature library cannot start";
    const std::string publicPath = publicKeyPath(secretKeyPath);
    std::unique_ptr<std::FILE, FileCloser> secretFile(platform::createPrivateFile(secretKeyPath.c_str()));
    if (!secretFile)
        return "cannot create " + secretKeyPath + " (an existing key file is never replaced)";
    std::string secretHex = hexOf(secretKey.data(), kSecretKeyBytes) + '\n';
    const bool written =
        std::fwrite(secretHex.data(), 1, secretHex.size(), secretFile.get()) == secretHex.size();
    sodium_memzero(secretHex.data(), secretHex.size());
    if (!written || std::fclose(secretFile.release()) != 0) {
        platform::removeFile(secretKeyPath);
        return "cannot write " + secretKeyPath;
    }
    std::ofstream publicFile(std::filesystem::u8path(publicPath), std::ios::binary | std::ios::trunc);
    publicFile << toHex(publicKey) << '\n';
    publicFile.close();
    if (!publicFile)
        return "cannot write " + publicPath;
    return {};
}

std::string readSecretKeyFile(const std::string& path, SecretKey& secretKey)
{
    if (!started())
        return "the signature library cannot start";
    std::string text;
    const bool read = readSmallFile(path, text, 2 * kSecretKeyBytes + 2);
    const bool valid = read && fromHex(text, secretKey.data(), kSecretKeyBytes);
    sodium_memzero(text.data(), text.size());
    if (!read)
        return "cannot read " + path;
    if (!valid)
        return path + " holds no secret key (128 hexadecimal digits)";
    // The key is a seed followed by its public half: a file whose public half does not follow from the
    // seed is damaged, and would sign releases that no program accepts.
    unsigned char seed[crypto_sign_SEEDBYTES];
    PublicKey derived{};
    SecretKey again;
    const bool whole = crypto_sign_ed25519_sk_to_seed(seed, secretKey.data()) == 0 &&
                       crypto_sign_seed_keypair(derived.data(), again.data(), seed) == 0 &&
                       sodium_memcmp(derived.data(), secretKey.data() + kSecretKeyBytes - kPublicKeyBytes,
                                     kPublicKeyBytes) == 0;
    sodium_memzero(seed, sizeof seed);
    return whole ? std::string() : path + " holds a damaged secret key";
}

std::string readPublicKeyFile(const std::string& path, PublicKey& publicKey)
{
    std::string text;
    if (!readSmallFile(path, text, 2 * kPublicKeyBytes + 2))
        return "cannot read " + path;
    if (!publicKeyFromHex(text, publicKey))
        return path + " holds no public key (64 hexadecimal digits)";
    return {};
}

} // namespace release
