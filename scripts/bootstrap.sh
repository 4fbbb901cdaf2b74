#!/usr/bin/env bash
# Installs the Debian packages kmztile needs to build, test and benchmark.
# Safe to run any number of times: it installs only what is missing.
# With --slurm it installs only the scheduler scripts/slurm-e2e.sh runs on.
set -euo pipefail
slurm_only=0
if [ "${1:-}" = "--slurm" ]; then slurm_only=1; fi

packages=(
  build-essential cmake pkg-config git
  libkml-dev libminizip-dev zlib1g-dev libdeflate-dev libexpat1-dev libboost-dev
  libproj-dev proj-data
  libturbojpeg0-dev libjpeg62-turbo-dev libpng-dev libtiff-dev libstb-dev
  nlohmann-json3-dev libcli11-dev libassimp-dev libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  chromium
)
if [ $slurm_only -eq 1 ]; then packages=(slurm-wlm munge); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# chromium: the browser the viewer test drives (headless, WebGL in software).
# Node runs the glTF validator and that browser test; a machine with its own node keeps it.
if [ $slurm_only -eq 0 ] && ! command -v node >/dev/null 2>&1; then missing+=(nodejs); fi
if [ $slurm_only -eq 0 ] && ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if [ ${#missing[@]} -ne 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ $slurm_only -eq 1 ]; then exit 0; fi

# The Node packages, exactly as each package-lock.json pins them: the
# viewer's CesiumJS (served by `kmztile view`, installed by cmake --install)
# and the tests' tools. A folder is installed again when its lock changed.
root="$(cd "$(dirname "$0")/.." && pwd)"
for folder in "$root/viewer" "$root/tests/js"; do
  if ! cmp -s "$folder/package-lock.json" "$folder/node_modules/.kmztile-installed-lock"; then
    (cd "$folder" && npm ci --no-audit --no-fund && cp package-lock.json node_modules/.kmztile-installed-lock)
  fi
done
