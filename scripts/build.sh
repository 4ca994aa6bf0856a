#!/usr/bin/env bash
# Configures and builds Quillmark into build/ (Release).
#   build.sh [CMAKE_OPTION...]            everything configured (with -DQUILLMARK_BUILD_TESTS=ON: the tests)
#   build.sh --program [CMAKE_OPTION...]  only the executables: the window, quillmark-convert and
#                                         quillmark-release-server
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=()
if [ "${1:-}" = --program ]; then
  shift
  targets=(--target Quillmark quillmark-convert quillmark-release-server)
fi
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$root/build" --parallel "$(nproc)" "${targets[@]}"
