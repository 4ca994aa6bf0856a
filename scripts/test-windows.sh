#!/usr/bin/env bash
# Cross-builds Quillmark and its test suite for Windows into build-windows/ and runs the suite under wine64
# through ctest, in a Wine prefix of its own, on a display of its own (Xvfb) for the window tests. Then it
# unpacks the zip that scripts/build-windows.sh made (when there is one) and converts examples/ with it, and
# installs and removes the installer silently. Extra arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-windows"

prefix=$("$root/scripts/windows/build-toolchain.sh" | tail -n 1)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/scripts/windows/mingw-toolchain.cmake" -DQUILLMARK_WINDOWS_PREFIX="$prefix" \
  -DQUILLMARK_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# A Wine of our own: its prefix in the build folder, a Simplified Chinese system (scripts/windows/wine-run),
# and one wineserver for all tests (a start costs seconds).
export WINEPREFIX="$build/wine"
wine="$root/scripts/windows/wine-run"
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb_pid <&3
read -r display <&3
export DISPLAY=":$display"
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
mkdir -p "$WINEPREFIX"
# A new prefix is set up by its first start: let that finish and its server end before the persistent
# one starts (a service started while the set-up still runs finds the service database locked). Then the
# RPC service that COM needs is started here: when the first test that uses COM had to start it under
# ctest, that test hung until its time-out.
"$wine" wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p
"$wine" net start RpcSs </dev/null >/dev/null 2>&1 || true
# The display has no window manager: Wine would wait up to two seconds for one at each window it hides
# or maps, seconds for every window the tests open and close. Its windows place themselves instead.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

status=0
(cd "$build" && ctest --output-on-failure --timeout 900 "$@") || status=$?

# The portable zip, as a user gets it: unpacked into a folder of its own, it converts examples/.
zip=$(ls "$root"/dist/Quillmark-*-windows-x86_64.zip 2>/dev/null | tail -n 1 || true)
if [ -n "$zip" ]; then
  unpacked=$(mktemp -d)
  unzip -q "$zip" -d "$unpacked"
  folder=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d)
  if "$wine" "$folder/quillmark-convert.exe" "$root/examples" --out "$unpacked/out" >/dev/null &&
     [ "$(find "$unpacked/out" -name '*.xlsx' | wc -l)" -eq "$(find "$root/examples" -iname '*.csv' | wc -l)" ]; then
    echo "windows zip: converts examples/ into $(find "$unpacked/out" -name '*.xlsx' | wc -l) workbooks"
  else
    echo "windows zip: the unpacked quillmark-convert.exe did not convert examples/" >&2
    status=1
  fi
  rm -rf "$unpacked"
fi
setup=$(ls "$root"/dist/Quillmark-*-windows-x86_64-setup.exe 2>/dev/null | tail -n 1 || true)
if [ -n "$setup" ]; then
  # Wine reports 0 even for an installer it cannot start: the files decide.
  target="$WINEPREFIX/drive_c/QuillmarkSetupCheck"
  "$wine" "$setup" /S '/D=C:\QuillmarkSetupCheck' >/dev/null 2>&1 || true
  if [ -f "$target/Quillmark.exe" ] && [ -f "$target/quillmark-convert.exe" ] && [ -f "$target/uninstall.exe" ]; then
    "$wine" "$target/uninstall.exe" /S >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do [ -f "$target/Quillmark.exe" ] || break; sleep 0.2; done
    if [ -e "$target/Quillmark.exe" ]; then
      echo "windows installer: the uninstaller left the program behind" >&2
      status=1
    else
      echo "windows installer: installs silently and uninstalls"
    fi
  else
    echo "windows installer: silent installation did not install the program" >&2
    status=1
  fi
fi
exit "$status"
