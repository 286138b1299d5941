#!/usr/bin/env bash
# Runs the README's C++ client recipe exactly as written (the shell block
# between the "client-recipe" markers), against a scratch registry, and
# checks what the client prints.  Keeps the README true.
set -euo pipefail
cd "$(dirname "$0")/.."

recipe=$(awk '/<!-- client-recipe:begin -->/{on=1; next} /<!-- client-recipe:end -->/{on=0} on' README.md |
  sed -e '/^```/d')
[ -n "$recipe" ] || { echo "check_readme_recipe: no client recipe in README.md" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export COMHOST_REGISTRY=$scratch/registry.db

output=$(bash -euo pipefail -c "$recipe" 2>&1) || {
  echo "$output" >&2
  echo "check_readme_recipe: the recipe failed" >&2
  exit 1
}
printf '%s\n' "$output"
grep -q '^recordset1.xml: [0-9][0-9]* rows$' <<<"$output" &&
  grep -q '^RecordsetLoadFromFile(99) failed: 0x800A' <<<"$output" || {
  echo "check_readme_recipe: unexpected output" >&2
  exit 1
}
echo "check_readme_recipe: ok"
