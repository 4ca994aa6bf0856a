#!/usr/bin/env bash
# Builds the whole tree with clang and the address and undefined-behaviour sanitizers into
# build-sanitize/ and runs every test there. Extra arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMARK_SANITIZE=ON -DQUILLMARK_BUILD_TESTS=ON >/dev/null
cmake --build "$root/build-sanitize" --parallel "$(nproc)"
cd "$root/build-sanitize"
ctest --output-on-failure --timeout 900 "$@"
