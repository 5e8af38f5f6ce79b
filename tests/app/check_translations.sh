#!/usr/bin/env bash
# Fails when lupdate finds a source text without a finished German translation: lupdate
# runs over the source folders into a copy of kordo_de.ts, lrelease counts what is left.
# Usage: check_translations.sh SOURCE_ROOT. Exit 77 (skipped) without the Qt tools.
set -euo pipefail
root="$1"
if ! command -v lupdate >/dev/null || ! command -v lrelease >/dev/null; then
  echo "lupdate or lrelease is not installed (package qttools5-dev-tools): translation check skipped"
  exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$root/resources/translations/kordo_de.ts" "$work/kordo_de.ts"

cd "$root"
folders=()
for folder in app cli coordinator serve device ident link motors recording results capture sim wire ui tuning firmware; do
  [ -d "$folder" ] && folders+=("$folder")
done
lupdate -no-obsolete "${folders[@]}" -ts "$work/kordo_de.ts" >"$work/lupdate.log" 2>&1 || {
  cat "$work/lupdate.log"
  exit 1
}
lrelease "$work/kordo_de.ts" -qm "$work/kordo_de.qm" >"$work/lrelease.log" 2>&1
cat "$work/lrelease.log"

unfinished="$(sed -n 's/.*(\([0-9]*\) finished and \([0-9]*\) unfinished).*/\2/p' "$work/lrelease.log")"
untranslated="$(sed -n 's/.*Ignored \([0-9]*\) untranslated.*/\1/p' "$work/lrelease.log")"
if [ "${unfinished:-0}" != 0 ] || [ "${untranslated:-0}" != 0 ]; then
  echo "Source texts without a finished German translation (run lupdate, then translate them):"
  # The source of every message whose translation is still marked unfinished.
  awk '/<source>/ { source = $0 } /type="unfinished"/ { print source }' "$work/kordo_de.ts"
  exit 1
fi
# A text that ends with a space, or begins with one before more than one word, is a piece
# of a sentence joined from parts, whose words a translation cannot order: each sentence is
# one text with placeholders. A unit suffix (" ms") is one word after its space.
pieces="$(grep -E '<source>(.*[[:space:]]|[[:space:]][^<]*[[:space:]][^<]*)</source>' "$work/kordo_de.ts" || true)"
if [ -n "$pieces" ]; then
  echo "Source texts that are pieces of a joined sentence (make each sentence one text with %1):"
  echo "$pieces"
  exit 1
fi
echo "Every source text has a finished German translation, and none is a piece of a sentence."
