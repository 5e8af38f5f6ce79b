#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Extra arguments go to ctest (e.g. -L unit).
#   ./test.sh             the normal build in build/, a short fuzzing run, then every test
#   ./test.sh --sanitize  the whole tree with AddressSanitizer + UndefinedBehaviorSanitizer
#                         in build-sanitize/, then every test
#   ./test.sh --thread    ThreadSanitizer in build-tsan/ (advisory, not part of CI: see README)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

if [ "${1:-}" = "--thread" ]; then
  shift
  "$root/scripts/build.sh" "$root/build-tsan" -DKORDO_TSAN=ON
  export TSAN_OPTIONS="ignore_noninstrumented_modules=1:second_deadlock_stack=1:halt_on_error=0"
  cd "$root/build-tsan"
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 "$@"
  exit
fi

if [ "${1:-}" = "--sanitize" ]; then
  shift
  build_dir="$root/build-sanitize"
  BUILD_TYPE=Debug "$root/scripts/build.sh" "$build_dir" -DKORDO_SANITIZE=ON
  export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
  cd "$build_dir"
  # Two at a time: most of these tests wait on the line or the clock.
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j2 "$@"
  exit
fi

"$root/scripts/build.sh"
"$root/scripts/fuzz.sh" --seconds "${KORDO_FUZZ_SECONDS:-20}"
cd "$root/build"
# Two at a time, as in the sanitizer run: most of these tests wait on the line or the clock.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j2 "$@"
