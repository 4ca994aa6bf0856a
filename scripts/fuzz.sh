#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build-fuzz/ and runs each for SECONDS seconds
# (all targets, or those named). Each starts from its seed corpus in tests/fuzz/corpus/; what it learns
# stays in build-fuzz/corpus/, and the input of any failure in build-fuzz/artifacts/. Exit status 1 when a
# target failed.
#   scripts/fuzz.sh SECONDS [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
build="$root/build-fuzz"

"$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMARK_FUZZ=ON -DQUILLMARK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target quillmark_fuzzers --parallel "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in "$root"/tests/fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  echo "== $target: ${seconds}s"
  # A stuck input (10 s), or one that takes a lot of memory, counts as a failure as well.
  if ! QT_QPA_PLATFORM=offscreen "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$corpus" "$root/tests/fuzz/corpus/$target" 2>"$build/$target.log"; then
    tail -n 60 "$build/$target.log"
    failed+=("$target")
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/$target.log" | tr '\n' ' '
    echo
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz targets that failed: ${failed[*]} (inputs in $build/artifacts/)"
  exit 1
fi
