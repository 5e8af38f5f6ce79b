#!/usr/bin/env bash
# Installs what is missing, builds, and starts Kordo manager. Arguments go to the program (e.g. --demo).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/build.sh"
app="$root/build/bin/kordoman"
if [ ! -x "$app" ]; then
  echo "The application is not built yet: only the libraries and tests exist so far." >&2
  exit 1
fi
exec "$app" "$@"
