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
    apt_updated=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "test.sh: missing ${missing[*]}, and not root to install them; trying without"
  fi
fi

# The Windows build: murvecolor.exe cross-compiled with MinGW-w64, then run under Wine by the
# tests of the native build. Debian keeps wine64 in /usr/lib/wine, off the PATH.
have_cross_compiler() { command -v x86_64-w64-mingw32-g++-posix >/dev/null; }
have_wine() { command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ]; }
windows_packages=()
have_cross_compiler || windows_packages+=(g++-mingw-w64-x86-64-posix)
have_wine || windows_packages+=(wine64)
if [ ${#windows_packages[@]} -gt 0 ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  { [ -n "${apt_updated:-}" ] || apt-get update -qq; } &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${windows_packages[@]}" >/dev/null || true
fi
windows_exe=
if ! have_cross_compiler; then
  echo "test.sh: no MinGW-w64 (could not install ${windows_packages[*]}); leaving out the Windows build"
else
  cmake --preset windows
  cmake --build --preset windows
  if have_wine; then
    windows_exe="$PWD/build-windows/murvecolor.exe"
  else
    echo "test.sh: no Wine (could not install wine64); murvecolor.exe is built, its tests skip"
  fi
fi

cmake -S . -B build -G Ninja -DMURVECOLOR_WERROR=ON -DMURVECOLOR_WINDOWS_EXE="$windows_exe"
cmake --build build
ctest --test-dir build --output-on-failure -j2
