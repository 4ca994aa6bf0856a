#!/usr/bin/env bash
# Configures and builds Quillmark into build/ (Release, with tests). Extra arguments go to CMake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$root/build" --parallel "$(nproc)"
