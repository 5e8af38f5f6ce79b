#!/usr/bin/env bash
# Configures and builds (shared by run.sh and test.sh).
# Usage: build.sh [BUILD_DIR [CMAKE_ARGS...]]; BUILD_DIR defaults to build/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$root/build}"
shift || true
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
