#!/usr/bin/env bash
# Installs what the build and the tests need (as root, with apt-get), then configures, builds and
# runs every test: the native ones (the manual pages and the Debian package, lintian's verdict
# on it among them), murvecolor.exe and the Windows zip cross-built and their programs run under
# Wine, and the hardening stages (the suite again under AddressSanitizer and UBSan, the
# end-to-end tests with murvecolor under valgrind, each fuzz target for a while). The last line
# sums up every stage.
set -euo pipefail
cd "$(dirname "$0")"

# What the build needs, the list run.sh installs (gettext's msgfmt, xgettext and msgcmp make and
# check the message catalogues), and GoogleTest.
# shellcheck disable=SC2046 # one name a word
tools/ensure-packages $(grep -v '^#' tools/build-packages) libgtest-dev
# The Japanese locales the tests run in.
tools/ensure-packages locales
# As locale -a lists it: ja_JP.SJIS is ja_JP.sjis there.
have_locale() {
  local codeset=${1#*.}
  codeset=${codeset,,}
  locale -a 2>/dev/null | grep -qx "${1%%.*}.${codeset//[^a-z0-9]/}"
}
# localedef fails on Shift_JIS, which is not ASCII at 0x5c and 0x7e, yet makes the locale.
for wanted in ja_JP.UTF-8:UTF-8 ja_JP.SJIS:SHIFT_JIS ja_JP.eucJP:EUC-JP; do
  name=${wanted%%:*}
  have_locale "$name" || localedef -i ja_JP -f "${wanted#*:}" "$name" 2>/dev/null || true
  have_locale "$name" || echo "test.sh: cannot make the $name locale; the tests in it will skip"
done
# Rendering the manual pages, and building the Debian package (dpkg-shlibdeps needs file) and
# checking it.
tools/ensure-packages groff-base man-db dpkg-dev file lintian
# cpack makes the zip itself; the test that runs its programs unpacks it with unzip.
tools/ensure-packages g++-mingw-w64-x86-64-posix wine64 unzip
tools/ensure-packages clang libclang-rt-14-dev valgrind
# The test machine on the kernel's own UART driver: QEMU, busybox for its initramfs, cpio to pack it.
tools/ensure-packages qemu-system-x86 busybox-static cpio

# Debian keeps wine64 in /usr/lib/wine, off the PATH.
have_cross_compiler() { command -v x86_64-w64-mingw32-g++-posix >/dev/null; }
have_wine() { command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ]; }
windows_exe=
windows_zip=
if ! have_cross_compiler; then
  echo "test.sh: no MinGW-w64 cross compiler; leaving out the Windows build and its tests"
else
  cmake --preset windows
  cmake --build --preset windows
  rm -f build-windows/murvecolor-*-win64.zip
  (cd build-windows && cpack -G ZIP)
  if have_wine; then
    windows_exe="$PWD/build-windows/murvecolor.exe"
    windows_zip=$(echo "$PWD"/build-windows/murvecolor-*-win64.zip)
  else
    echo "test.sh: no Wine; murvecolor.exe and the zip are built, their tests skip"
  fi
fi

# Debian's cloud kernel, unpacked into build-vm/ (its 8250 driver is built in).
vm_kernel=$(tools/fetch-vm-kernel build-vm) || vm_kernel=
[ -n "$vm_kernel" ] || echo "test.sh: no kernel for the test machine; its stage will fail"

cmake -S . -B build -G Ninja -DMURVECOLOR_WERROR=ON -DMURVECOLOR_WINDOWS_EXE="$windows_exe" \
  -DMURVECOLOR_WINDOWS_ZIP="$windows_zip" -DMURVECOLOR_VM_KERNEL="$vm_kernel"
cmake --build build

# --- Stages, each counted from its closing line ("... tests failed out of N" or "N passed,
# N failed"); a stage that fails without one counts as one failure.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
passed=0
failed=0
times=("installs and builds $SECONDS s")
stage() {
  local name=$1 status=0 line total failures started=$SECONDS
  shift
  echo "test.sh: stage $name"
  "$@" 2>&1 | tee "$logs/$name.log" || status=$?
  times+=("$name $((SECONDS - started)) s")
  if line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$' "$logs/$name.log" |
    tail -1); then
    total=${line##* out of }
    failures=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  elif line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$logs/$name.log" | tail -1); then
    failures=${line##*, }
    failures=${failures% failed}
    total=$((${line%% passed*} + failures))
  else
    total=1
    failures=1
  fi
  if [ "$status" -ne 0 ] && [ "$failures" -eq 0 ]; then
    failures=1
  fi
  passed=$((passed + total - failures))
  failed=$((failed + failures))
}

# --- Hardening. The sanitizer build is clang's when there is one, so that it has the fuzz
# targets too; the Windows tests there would only run the same murvecolor.exe again.
if command -v clang++ >/dev/null; then
  sanitizer_compiler=clang++
else
  sanitizer_compiler=g++
  echo "test.sh: no clang; the sanitizer build has no fuzz targets"
fi
# Built while the native and real-UART stages run, whose tests mostly wait on their devices.
(cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER="$sanitizer_compiler" \
  -DMURVECOLOR_WERROR=ON -DMURVECOLOR_SANITIZE=ON -DMURVECOLOR_FUZZ=ON &&
  nice cmake --build build-asan) >"$logs/sanitizer-build.log" 2>&1 &
sanitizer_build_pid=$!
trap '[ -z "$sanitizer_build_pid" ] || kill "$sanitizer_build_pid" 2>/dev/null; rm -rf "$logs"' EXIT

stage native ctest --test-dir build --output-on-failure -j2 -E '^RealUart'

# The kernel's 8250 driver under QEMU. A skip (no kernel, no QEMU) counts as a failure here.
real_uart() {
  ctest --test-dir build --output-on-failure -R '^RealUart' | tee "$logs/uart-ctest.log" &&
    ! grep -q 'Not Run\|Skipped' "$logs/uart-ctest.log"
}
stage uart real_uart

# The sanitizer build was started before the native stage; its log says why it failed.
sanitizer_build_status=0
wait "$sanitizer_build_pid" || sanitizer_build_status=$?
sanitizer_build_pid=
sanitizer_tests() {
  if [ "$sanitizer_build_status" -ne 0 ]; then
    cat "$logs/sanitizer-build.log"
    return 1
  fi
  ctest --test-dir build-asan --output-on-failure -j2 -E '^(Wine/)?Windows|^RealUart'
}
stage sanitizers sanitizer_tests

if command -v valgrind >/dev/null; then
  stage valgrind env MURVECOLOR_TEST_WRAPPER="valgrind --error-exitcode=99 --leak-check=full \
--errors-for-leak-kinds=definite -q" ctest --test-dir build --output-on-failure -j2 \
    -R '^(Faults/)?EndToEnd|^FoundationOutput'
else
  echo "test.sh: no valgrind"
  failed=$((failed + 1))
fi

if [ "$sanitizer_compiler" = clang++ ]; then
  # 20 s a target here; tools/run-fuzzers runs longer for a person (60 s by default).
  stage fuzz tools/run-fuzzers build-asan "${MURVECOLOR_FUZZ_SECONDS:-20}"
fi

echo "test.sh: took ${times[*]/%/,} $SECONDS s in all"
echo "test.sh: native, real UART, sanitizer, valgrind and fuzz stages together:"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
