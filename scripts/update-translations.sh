#!/usr/bin/env bash
# Brings resources/translations/kordo_de.ts up to date with the sources: new texts are added
# as unfinished (translate them in the file), texts no longer used are dropped. Without line
# numbers, so that two branches that each add texts merge without touching each other.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
folders=()
for folder in app cli coordinator serve device ident link motors recording results capture sim wire ui tuning firmware; do
  [ -d "$folder" ] && folders+=("$folder")
done
# lupdate warns about every out-of-line member it parses; only the rest is worth reading.
lupdate -no-obsolete -locations none "${folders[@]}" -ts resources/translations/kordo_de.ts 2>&1 \
  | grep -v "Qualifying with unknown namespace/class"
