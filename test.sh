#!/usr/bin/env bash
# Installs what the build and the tests need (as root, with apt-get), then configures, builds and
# runs every test: the native ones (the manual pages and the Debian package among them), and
# murvecolor.exe cross-built and run under Wine.
set -euo pipefail
cd "$(dirname "$0")"

tools/ensure-packages cmake g++ ninja-build libgtest-dev
# Rendering the manual pages, and building the Debian package (dpkg-shlibdeps needs file).
tools/ensure-packages groff-base man-db dpkg-dev file
tools/ensure-packages g++-mingw-w64-x86-64-posix wine64

# Debian keeps wine64 in /usr/lib/wine, off the PATH.
have_cross_compiler() { command -v x86_64-w64-mingw32-g++-posix >/dev/null; }
have_wine() { command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ]; }
windows_exe=
if ! have_cross_compiler; then
  echo "test.sh: no MinGW-w64 cross compiler; leaving out the Windows build and its tests"
else
  cmake --preset windows
  cmake --build --preset windows
  if have_wine; then
    windows_exe="$PWD/build-windows/murvecolor.exe"
  else
    echo "test.sh: no Wine; murvecolor.exe is built, its tests skip"
  fi
fi

cmake -S . -B build -G Ninja -DMURVECOLOR_WERROR=ON -DMURVECOLOR_WINDOWS_EXE="$windows_exe"
cmake --build build
ctest --test-dir build --output-on-failure -j2
