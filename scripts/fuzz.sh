#!/usr/bin/env bash
# Builds the fuzzing harnesses with clang and libFuzzer into build-fuzz/ and runs each one
# for a bounded time over its seed corpus (fuzz/corpus/NAME). New inputs go to a scratch
# corpus, never into the repository; an input that breaks an invariant is kept in
# build-fuzz/artifacts/ and the run fails.
# Usage: fuzz.sh [--seconds N] [HARNESS...]   (default 20 s each, every harness)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds=20
if [ "${1:-}" = "--seconds" ]; then seconds="$2"; shift 2; fi

if ! command -v clang++ >/dev/null || ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long){return 0;}' \
      | clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  echo "fuzz: skipped, clang++ with libFuzzer is not available (packages clang, libclang-rt-14-dev)"
  exit 0
fi

build_dir="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORDO_FUZZ=ON >/dev/null
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for dir in "$root"/fuzz/corpus/*/; do harnesses+=("$(basename "$dir")"); done
fi
cmake --build "$build_dir" --parallel "$(nproc)" --target "${harnesses[@]/#/fuzz_}" >/dev/null

artifacts="$build_dir/artifacts"
mkdir -p "$artifacts"
export QT_LOGGING_RULES="*.debug=false;default.warning=false"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for harness in "${harnesses[@]}"; do
  scratch="$(mktemp -d)"
  log="$build_dir/fuzz_$harness.log"
  if "$build_dir/fuzz/fuzz_$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$artifacts/${harness}-" "$scratch" "$root/fuzz/corpus/$harness" >"$log" 2>&1; then
    echo "fuzz: $harness passed: $(grep -Eo 'Done [0-9]+ runs' "$log" | tail -n 1) in ${seconds} s"
    rm -rf "$scratch"
  else
    tail -n 40 "$log"
    echo "fuzz: $harness FAILED; the input is in $artifacts (add it to fuzz/corpus/$harness and a unit test row)"
    rm -rf "$scratch"
    exit 1
  fi
done
