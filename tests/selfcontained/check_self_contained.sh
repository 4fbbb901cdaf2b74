#!/usr/bin/env bash
# Fails when a file of the repository names the data folder that developers
# keep beside their checkout (the parent folder's "shared", relative or
# absolute): a fresh clone has nothing there, so whatever reads it breaks for
# every user. Lists the hits.
set -euo pipefail
cd "$1"
# Spelled so that this script does not match itself.
pattern='\.\.[/\\]shared|/work[/]shared'
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  hits=$(git grep --untracked -nIE "$pattern" -- . || true)
else
  hits=$(grep -rnIE --exclude-dir='build*' --exclude-dir=out --exclude-dir=.git --exclude-dir=node_modules "$pattern" . || true)
fi
if [ -n "$hits" ]; then
  echo "files name paths outside the repository (copy the data into tests/data instead):"
  echo "$hits"
  exit 1
fi
