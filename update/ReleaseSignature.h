#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Ed25519 signatures of release archives (libsodium): the release server signs each archive it publishes
// with the project's secret key, and the program installs only an archive whose detached signature one
// of its built-in public keys accepts.

namespace release {

constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::size_t kSecretKeyBytes = 64;
constexpr std::size_t kSignatureBytes = 64;

using PublicKey = std::array<unsigned char, kPublicKeyBytes>;

/// A secret signing key; its bytes are wiped from memory when it goes.
class SecretKey
{
  public:
    SecretKey() = default;
    ~SecretKey();
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;

    unsigned char* data() { return bytes_.data(); }
    const unsigned char* data() const { return bytes_.data(); }

  private:
    std::array<unsigned char, kSecretKeyBytes> bytes_{};
};

/// A new key pair from the system's random source. False when the library cannot start.
bool generateKeyPair(PublicKey& publicKey, SecretKey& secretKey);

/// The detached signature of `message`: kSignatureBytes bytes; empty when the library cannot start.
std::string sign(std::string_view message, const SecretKey& secretKey);

/// Whether `signature` is a detached signature of exactly `message` by one of `keys`. False for a
/// signature of the wrong size and for an empty key list.
bool signatureValid(std::string_view message, std::string_view signature, const std::vector<PublicKey>& keys);

/// Lowercase hexadecimal text of a public key, and back (exactly 64 hex digits, either case).
std::string toHex(const PublicKey& key);
bool publicKeyFromHex(std::string_view hex, PublicKey& key);

/// Key files. The secret key file holds 128 hex digits and a line feed and is created new, readable by
/// its owner only; an existing file is never replaced. The public key goes beside it, into the file
/// publicKeyPath() names, as 64 hex digits and a line feed. Each returns an empty text on success, else
/// what went wrong.
std::string publicKeyPath(const std::string& secretKeyPath);
std::string writeKeyFiles(const std::string& secretKeyPath, PublicKey& publicKey);
std::string readSecretKeyFile(const std::string& path, SecretKey& secretKey);
std::string readPublicKeyFile(const std::string& path, PublicKey& publicKey);

} // namespace release
