// What the update reads of a downloaded release: the signed description, and the archive itself (entry
// names and sizes, the executable's digest), as judgeRelease() reads it before anything is unpacked. Any
// bytes give a verdict without a crash or a hang; no description is accepted without a real signature;
// an archive judged to stay inside holds no entry that climbs out and stays within the limits.

#include "FuzzSupport.h"

#include "update/ReleaseArchive.h"
#include "update/ReleaseManifest.h"
#include "update/UpdateSteps.h"

#include <quazip/quazip.h>
#include <quazip/quazipfileinfo.h>

#include <QFile>

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

    // The input as a description: never accepted under a key that did not sign it.
    release::Manifest manifest;
    if (release::readSignedManifest(input, {keys->publicKey}, manifest))
        std::abort();
    // Its text signed: accepted exactly when its form is right, and then read back the same.
    if (release::isVersion(input)) {
        const release::Manifest written{input, 1, std::string(128, 'a')};
        const std::string text = release::signedManifest(written, keys->secretKey);
        if (!release::readSignedManifest(text, {keys->publicKey}, manifest) || manifest.version != input ||
            manifest.archiveBytes != 1 || manifest.archiveSha512 != written.archiveSha512)
            std::abort();
    }

    // The input as an archive, described truly, so that its entries are read.
    const std::string path = fuzz::scratchFolder() + "Quillmark.zip";
    fuzz::writeFile(path, input);
    release::Manifest described{"7.1", 0, ""};
    if (!release::fileSha512(path, 1 << 20, described.archiveBytes, described.archiveSha512))
        std::abort();
    const UnpackLimits limits{64 * 1024, 16};
    const ReleaseVerdict verdict = judgeRelease(path, described, "0123456789abcdef0123456789abcdef", limits);
    if (size > 0 && verdict == ReleaseVerdict::BadSignature)
        std::abort(); // the very archive its description names
    const QString archive = QFile::decodeName(path.c_str());
    if (archiveStaysInside(archive, limits)) {
        QuaZip zip(archive);
        if (!zip.open(QuaZip::mdUnzip))
            std::abort();
        const QList<QuaZipFileInfo64> entries = zip.getFileInfoList64();
        unsigned long long total = 0;
        for (const QuaZipFileInfo64& entry : entries) {
            if (!archiveEntryStaysInside(entry.name))
                std::abort();
            total += entry.uncompressedSize;
        }
        if (entries.size() > limits.maxEntries || total > limits.maxBytes)
            std::abort();
    }
    archivedExecutableDigest(archive);
    return 0;
}
