#!/usr/bin/env bash
# Builds Quillmark for Windows on Debian 12: the cross toolchain once (scripts/windows/build-toolchain.sh,
# cached in ~/.cache/quillmark-windows), then Quillmark.exe and quillmark-convert.exe (static: no DLLs) in
# build-windows/, and makes in dist/:
#   Quillmark-VERSION-windows-x86_64.zip        unpack and run: the two programs, an empty Quillmark.qmk,
#                                               README.txt in Chinese and English
#   Quillmark-VERSION-windows-x86_64-setup.exe  an installer (Start-menu entry, uninstaller, silent with /S)
# Extra arguments go to CMake (-DQUILLMARK_RELEASE_PUBLIC_KEY=<hex> names the release key, as on Linux).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-windows"
out="$root/dist"

prefix=$("$root/scripts/windows/build-toolchain.sh" | tail -n 1)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/scripts/windows/mingw-toolchain.cmake" -DQUILLMARK_WINDOWS_PREFIX="$prefix" \
  "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target Quillmark quillmark-convert

version=$(sed -n 's/^#define QUILLMARK_VERSION "\(.*\)"$/\1/p' "$build/generated/QuillmarkVersion.h")
name="Quillmark-$version-windows-x86_64"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name" "$out"
for program in Quillmark quillmark-convert; do
  x86_64-w64-mingw32-strip -o "$stage/$name/$program.exe" "$(find "$build" -name "$program.exe" -print -quit)"
done
: >"$stage/$name/Quillmark.qmk"
# Notepad of Windows 7 wants CR LF line ends.
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$root/packaging/windows/README.txt" >"$stage/$name/README.txt"

rm -f "$out/$name.zip.tmp"
(cd "$stage" && zip -q -X -r "$out/$name.zip.tmp" "$name")
mv "$out/$name.zip.tmp" "$out/$name.zip"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage/$name" -DOUTFILE="$out/$name-setup.exe.tmp" \
  "$root/packaging/windows/installer.nsi"
mv "$out/$name-setup.exe.tmp" "$out/$name-setup.exe"
echo "$out/$name.zip"
echo "$out/$name-setup.exe"
