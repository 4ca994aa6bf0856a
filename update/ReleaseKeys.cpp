#include "update/ReleaseKeys.h"

#include <string_view>

#ifndef QUILLMARK_RELEASE_PUBLIC_KEY
#define QUILLMARK_RELEASE_PUBLIC_KEY ""
#endif

namespace {

// The project's release keys, as `quillmark-release-server keygen` prints them, one line each. None yet:
// a key belongs here only once its secret half is kept where releases are signed, away from this tree.
// Until then a build names its key with the CMake option QUILLMARK_RELEASE_PUBLIC_KEY.
std::vector<std::string_view> projectKeys()
{
    return {
        // "<64 hexadecimal digits>", // who keeps it, since when
    };
}

} // namespace

std::vector<release::PublicKey> programReleaseKeys()
{
    std::vector<std::string_view> texts = projectKeys();
    if (std::string_view(QUILLMARK_RELEASE_PUBLIC_KEY).size() > 0)
        texts.push_back(QUILLMARK_RELEASE_PUBLIC_KEY);
    std::vector<release::PublicKey> keys;
    for (std::string_view text : texts) {
        release::PublicKey key;
        if (release::publicKeyFromHex(text, key)) // the build checks the option's form
            keys.push_back(key);
    }
    return keys;
}
