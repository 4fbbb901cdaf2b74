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
  nlohmann-json3-dev libcli11-dev libassimp-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)
if [ $slurm_only -eq 1 ]; then packages=(slurm-wlm munge); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Node runs the glTF validator the tests use; a machine with its own node keeps it.
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

# The Node packages of the tests, exactly as package-lock.json pins them.
tests_js="$(cd "$(dirname "$0")/../tests/js" && pwd)"
if [ ! -d "$tests_js/node_modules/gltf-validator" ]; then
  (cd "$tests_js" && npm ci --no-audit --no-fund)
fi
