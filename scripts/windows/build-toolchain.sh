#!/usr/bin/env bash
# Builds, once, the libraries that the Windows build of Quillmark links, cross-compiled with Debian's
# MinGW-w64 (posix threads) from Debian's own source packages: a static Qt 5.15 (Core, Gui, Widgets, Network,
# Test and the windows platform plugin), libsodium, QuaZip and ISA-L. zlib comes from libz-mingw-w64-dev.
#
# Everything goes into a cache folder outside the tree, one folder per key: the source versions, the
# configure flags, the compiler's version, the Debian release and this script's recipe. A later run with
# the same key finds the folder complete (a READY file) and does nothing, so the half hour of Qt is spent
# once per machine. The last line printed is the prefix folder.
#   build-toolchain.sh
# QUILLMARK_WINDOWS_CACHE sets the cache folder (default ~/.cache/quillmark-windows).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cache=${QUILLMARK_WINDOWS_CACHE:-$HOME/.cache/quillmark-windows}
jobs=$(nproc)
host=x86_64-w64-mingw32

"$root/scripts/install-deps.sh" --windows >&2

# Bumped when the recipe below changes in a way the key would not see.
recipe=1
qt_flags=(-release -opensource -confirm-license -static -static-runtime -nomake examples -nomake tests
  -no-opengl -no-dbus -no-icu -system-zlib -qt-libpng -qt-pcre -qt-harfbuzz -no-libjpeg -no-freetype
  -no-direct2d -no-vulkan -no-openssl -no-feature-sql -no-feature-xml -no-feature-concurrent
  -no-feature-printer -no-feature-tabletevent)

# Debian's source packages, through an apt configuration of our own: the system's sources stay untouched.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/apt/lists/partial"
sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$work/apt/src.sources"
apt_options=(-o "Dir::Etc::SourceList=$work/apt/src.sources" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$work/apt/lists" -o APT::Sandbox::User=root)
apt-get "${apt_options[@]}" update >/dev/null
source_version() {
  apt-cache "${apt_options[@]}" showsrc "$1" | sed -n 's/^Version: //p' | sort -V | tail -n 1
}
packages=(qtbase-opensource-src libsodium libquazip1-qt5 libisal)
key_text="recipe=$recipe debian=$(cat /etc/debian_version) gcc=$($host-g++-posix -dumpversion)"
key_text+=" zlib=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev) qt_flags=${qt_flags[*]}"
for p in "${packages[@]}"; do key_text+=" $p=$(source_version "$p")"; done
key=$(printf '%s' "$key_text" | sha256sum | cut -c1-16)
prefix="$cache/$key"
if [ -f "$prefix/READY" ]; then
  echo "$prefix"
  exit 0
fi
echo "Building the Windows toolchain into $prefix (about half an hour on two cores)" >&2
rm -rf "$prefix"
mkdir -p "$prefix"

# x86_64-w64-mingw32-gcc and -g++ must be the posix-thread compilers, whatever the system's alternative says.
mkdir -p "$work/bin"
for tool in gcc g++; do ln -s "$(command -v $host-$tool-posix)" "$work/bin/$host-$tool"; done
export PATH="$work/bin:$PATH"

fetch() { # fetch PACKAGE -> prints the unpacked source folder
  mkdir -p "$work/src/$1"
  (cd "$work/src/$1" && apt-get "${apt_options[@]}" source --only-source "$1" >/dev/null 2>&1)
  find "$work/src/$1" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

# libsodium: release signatures.
src=$(fetch libsodium)
(cd "$src" && autoreconf -fi >/dev/null 2>&1 &&
  ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static >/dev/null &&
  make -j"$jobs" >/dev/null && make install >/dev/null)

# ISA-L: the deflate of .xlsx sheets. Its install target knows nothing of MinGW: copy the library and headers,
# and describe them for pkg-config as Debian's package does.
src=$(fetch libisal)
(cd "$src" && make -f Makefile.unx arch=mingw AS=nasm CC=$host-gcc-posix lib -j"$jobs" >/dev/null)
mkdir -p "$prefix/lib/pkgconfig" "$prefix/include/isa-l"
cp "$src/bin/isa-l.a" "$prefix/lib/libisal.a"
cp "$src"/include/*.h "$prefix/include/isa-l/"
cat >"$prefix/lib/pkgconfig/libisal.pc" <<EOF
prefix=$prefix
Name: libisal
Description: Intel storage acceleration library (static, MinGW)
Version: $(source_version libisal)
Libs: -L\${prefix}/lib -lisal
Cflags: -I\${prefix}/include
EOF

# Qt, static, from Debian's qtbase tarball. moc, rcc and uic are built for this machine.
src=$(fetch qtbase-opensource-src)
mkdir -p "$work/qt-build"
(cd "$work/qt-build" &&
  "$src/configure" -prefix "$prefix" -xplatform win32-g++ -device-option CROSS_COMPILE=$host- \
    "${qt_flags[@]}" >"$work/qt-configure.log" 2>&1 || { tail -n 40 "$work/qt-configure.log" >&2; exit 1; }
  make -j"$jobs" >"$work/qt-make.log" 2>&1 || { tail -n 60 "$work/qt-make.log" >&2; exit 1; }
  make install >/dev/null 2>&1)

# QuaZip against that Qt: only what it needs (a REQUIRED find_package also demands its optional components).
src=$(fetch libquazip1-qt5)
sed -i 's/ OPTIONAL_COMPONENTS Network Test//' "$src/CMakeLists.txt"
cmake -S "$src" -B "$work/quazip-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/scripts/windows/mingw-toolchain.cmake" -DQUILLMARK_WINDOWS_PREFIX="$prefix" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DQUAZIP_QT_MAJOR_VERSION=5 \
  -DQUAZIP_FETCH_LIBS=OFF -DQUAZIP_BZIP2=OFF >/dev/null
cmake --build "$work/quazip-build" --parallel "$jobs" >/dev/null
cmake --install "$work/quazip-build" >/dev/null

printf '%s\n' "$key_text" >"$prefix/READY"
echo "$prefix"
