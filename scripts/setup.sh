#!/usr/bin/env bash
# Installs the Debian packages that the caster and its tests need. Safe to run again:
# only packages that are missing are installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libboost1.81-dev
  libsqlite3-dev libpq-dev
  libssl-dev openssl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  postgresql
  rtklib
  chromium fonts-wqy-zenhei
  clang
)
# Node.js comes with the machine; Debian's package is the fall-back.
if ! command -v node > /dev/null || ! command -v npm > /dev/null; then packages+=(nodejs npm); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

# The browser tests' driver (playwright-core, pinned in package-lock.json).
cd "$(dirname "$0")/.."
if [ ! -d node_modules/playwright-core ]; then
  npm ci --no-audit --no-fund
fi
