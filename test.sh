#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Extra arguments go to ctest (e.g. -L unit).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/build.sh"
cd "$root/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 "$@"
