#!/usr/bin/env bash
# Installs what is missing, builds with the tests and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DQUILLMARK_BUILD_TESTS=ON
cd "$root/build"
ctest --output-on-failure --timeout 900 "$@"
