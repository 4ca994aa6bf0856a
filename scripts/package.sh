#!/usr/bin/env bash
# Makes the portable bundle Quillmark-VERSION-linux-ARCH.tar.gz: one folder holding the window program,
# quillmark-convert, quillmark-release-server, an empty settings file Quillmark.qmk, the README, the icon
# and install-desktop-entry.sh, which is all the program needs beside it.
#   package.sh [BUILD_FOLDER [OUTPUT_FOLDER]]   (defaults: build/ and dist/)
# The executables are built in BUILD_FOLDER first (configured as Release when it is new). A release bundle
# names the public key of its releases, so that its self-update installs them:
#   QUILLMARK_RELEASE_PUBLIC_KEY=<64 hex digits> package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
out=$(realpath -m "${2:-$root/dist}")

"$root/scripts/install-deps.sh" --build
configure=()
if [ ! -f "$build/CMakeCache.txt" ]; then configure=(-G Ninja -DCMAKE_BUILD_TYPE=Release); fi
if [ -n "${QUILLMARK_RELEASE_PUBLIC_KEY:-}" ]; then
  configure+=("-DQUILLMARK_RELEASE_PUBLIC_KEY=$QUILLMARK_RELEASE_PUBLIC_KEY")
fi
if [ ${#configure[@]} -gt 0 ]; then cmake -S "$root" -B "$build" "${configure[@]}"; fi
if ! grep -q '^QUILLMARK_RELEASE_PUBLIC_KEY:STRING=.' "$build/CMakeCache.txt"; then
  echo "note: this bundle trusts only the release keys listed in update/ReleaseKeys.cpp" >&2
fi
cmake --build "$build" --parallel "$(nproc)" --target Quillmark quillmark-convert quillmark-release-server

version=$(sed -n 's/^#define QUILLMARK_VERSION "\(.*\)"$/\1/p' "$build/generated/QuillmarkVersion.h")
name="Quillmark-$version-linux-$(uname -m)"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/$name" --strip >/dev/null
mkdir -p "$out"
tar -C "$stage" -czf "$out/$name.tar.gz.tmp" "$name"
mv "$out/$name.tar.gz.tmp" "$out/$name.tar.gz"
echo "$out/$name.tar.gz"
