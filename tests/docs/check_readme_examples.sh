#!/usr/bin/env bash
# The scheduler examples the README shows are the files scripts/slurm-e2e.sh
# submits (and their Kubernetes counterparts): each file must appear in the
# README verbatim, so that an edit to one without the other fails here.
set -euo pipefail
root=${1:?usage: check_readme_examples.sh SOURCE_DIR}
readme=$(<"$root/README.md")
status=0
for f in "$root"/scripts/slurm/*.sbatch "$root"/scripts/kubernetes/*.yaml; do
  content=$(<"$f")
  if [[ $readme != *"$content"* ]]; then
    echo "README.md does not quote ${f#"$root"/} as it is" >&2
    status=1
  fi
done
exit "$status"
