#!/usr/bin/env bash
# Installs, from Debian's packages, whatever this machine lacks to build and test.
set -euo pipefail
pkgs=(cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
      libicu-dev libxerces-c-dev uuid-dev
      strace               # the updater test that checks the order of its flushes traces it
      nlohmann-json3-dev)  # the JSON benchmark's reference library
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
