#pragma once

#include "update/ReleaseSignature.h"

#include <vector>

/// The public keys whose signature the program accepts on a release: the project's keys listed in
/// ReleaseKeys.cpp and the one a build adds with -DQUILLMARK_RELEASE_PUBLIC_KEY=<64 hex digits>. Without
/// any key the program installs no update.
std::vector<release::PublicKey> programReleaseKeys();
