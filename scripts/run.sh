#!/usr/bin/env bash
# Installs what is missing, builds, converts examples/ into build/examples-xlsx/ and, when a display is
# available, opens the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" --build
"$root/scripts/build.sh" --program
out="$root/build/examples-xlsx"
rm -rf "$out"
status=0
"$root/build/cli/quillmark-convert" "$root/examples" --out "$out" || status=$?
echo "Workbooks written to $out:"
(cd "$out" && find . -type f | sort)
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$root/build/app/Quillmark" &
fi
exit "$status"
