#!/usr/bin/env bash
# Installs the Debian packages Quillmark needs. The one list of them, used by both README commands, by
# .ci/run and by the bundle's README:
#   install-deps.sh            everything: build, run, test and benchmark (the test command, CI)
#   install-deps.sh --build    what building and running the program needs (the run command)
#   install-deps.sh --runtime  what the program needs at run time only (an unpacked bundle)
#   install-deps.sh --windows  what the Windows build and its tests under Wine need (scripts/build-windows.sh)
set -euo pipefail

# Shared libraries the executables load, the desktop's file opener for the list of failed files, and a
# Chinese font for the window's texts (a clean system may have none: every label a row of boxes).
RUNTIME=(
  libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5
  zlib1g libisal2 libquazip1-qt5-1 libcurl4 libsodium23
  xdg-utils
  fonts-wqy-microhei
)
BUILD=(
  build-essential cmake pkg-config ninja-build
  qtbase5-dev qtbase5-dev-tools
  zlib1g-dev
  libisal-dev  # ISA-L igzip: the fast deflate of .xlsx sheets
  libquazip1-qt5-dev
  libcurl4-openssl-dev
  libsodium-dev  # release signatures of the self-update
  qttranslations5-l10n  # Qt's own texts in Chinese, compiled into the program
)
TEST=(
  python3 python3-openpyxl python3-xlrd  # independent readers of our workbooks
  python3-olefile  # an independent reader of the .xls compound file
  libxlsxwriter-dev  # only for the benchmark's speed floor (bench/)
  time
  clang libclang-rt-14-dev  # the fuzz targets and the sanitizer build of the tests
)
# The cross build for Windows: MinGW-w64 with posix threads, the tools that build Qt and the libraries from
# Debian's source packages, wine64 for the tests, Xvfb for the window under Wine, nsis for the installer.
WINDOWS=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  build-essential cmake ninja-build pkg-config perl python3 nasm autoconf automake libtool dpkg-dev
  wine64 xvfb xauth nsis zip unzip fonts-noto-cjk
)

case "${1:-}" in
  "") PACKAGES=("${RUNTIME[@]}" "${BUILD[@]}" "${TEST[@]}") ;;
  --build) PACKAGES=("${RUNTIME[@]}" "${BUILD[@]}") ;;
  --runtime) PACKAGES=("${RUNTIME[@]}") ;;
  --windows) PACKAGES=("${WINDOWS[@]}") ;;
  *) echo "usage: $0 [--build | --runtime | --windows]" >&2; exit 2 ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
