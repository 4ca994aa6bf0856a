// The release signature check: no input forges a signature, a real one verifies over exactly its bytes,
// and a signature with any bit changed fails; public keys read from text are 64 hex digits or nothing.

#include "FuzzSupport.h"

#include "update/ReleaseSignature.h"

#include <cstdlib>

namespace {

struct Keys
{
    release::PublicKey publicKey{};
    release::SecretKey secretKey;
    Keys()
    {
        if (!release::generateKeyPair(publicKey, secretKey))
            std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Keys* const keys = new Keys;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::vector<release::PublicKey> trusted{keys->publicKey};

    // The input's first 64 bytes as a signature of the rest: never accepted.
    if (input.size() >= release::kSignatureBytes &&
        release::signatureValid(std::string_view(input).substr(release::kSignatureBytes),
                                std::string_view(input).substr(0, release::kSignatureBytes), trusted))
        std::abort();

    // The input signed: accepted over exactly its bytes, refused with a bit changed.
    std::string signature = release::sign(input, keys->secretKey);
    if (!release::signatureValid(input, signature, trusted))
        std::abort();
    const std::size_t bit = size ? data[0] % (8 * release::kSignatureBytes) : 0;
    signature[bit / 8] = static_cast<char>(signature[bit / 8] ^ (1 << (bit % 8)));
    if (release::signatureValid(input, signature, trusted))
        std::abort();
    if (!input.empty() &&
        release::signatureValid(input.substr(1), release::sign(input, keys->secretKey), trusted))
        std::abort();

    release::PublicKey parsed{};
    if (release::publicKeyFromHex(input, parsed) && release::toHex(parsed).size() != 64)
        std::abort();
    return 0;
}
