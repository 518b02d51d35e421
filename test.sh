#!/usr/bin/env bash
# Installs what the build and the tests need (as root, with apt-get), then configures, builds and
# runs every test.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ ninja-build libgtest-dev)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "test.sh: missing ${missing[*]}, and not root to install them; trying without"
  fi
fi

cmake -S . -B build -G Ninja -DMURVECOLOR_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure -j2
