#include "update/ProgramVersion.h"

#include "QuillmarkVersion.h"
#include "update/ReleaseManifest.h"

#include <cstring>

namespace {

// The marker and the version in one piece of the executable's data, ended by a NUL.
const char kVersionRecord[] = "Quillmark-release-version:" QUILLMARK_VERSION;

} // namespace

const char* programVersion()
{
    static_assert(sizeof kVersionRecord > sizeof release::kVersionMarker, "the record holds the marker");
    return kVersionRecord + std::strlen(release::kVersionMarker);
}
