#!/usr/bin/env bash
# Builds murvecolor and murvesim, then writes the example settings (or the file given, a path
# from where it is run) into a MURVE Pro, with -verify: the device that MURVECOLOR_COM5 names, or
# else a simulated one started for the run. The exit status is murvecolor's: 0 when the device
# holds what was written.
set -euo pipefail
source=$(cd "$(dirname "$0")" && pwd)
# The programs as the commands it prints name them: from here, or from anywhere.
if [ "$PWD" = "$source" ]; then
  shown=build-run
  settings=${1:-examples/murve_color.cfg}
else
  shown=$(printf %q "$source")/build-run
  settings=${1:-$source/examples/murve_color.cfg}
fi
shown_settings=$(printf %q "$settings")

echo "run.sh: the packages the build needs (tools/build-packages)"
# shellcheck disable=SC2046 # one name a word
"$source/tools/ensure-packages" $(grep -v '^#' "$source/tools/build-packages")
echo "run.sh: configuring $shown/"
cmake -S "$source" -B "$source/build-run" -G Ninja -DMURVECOLOR_BUILD_TESTS=OFF >/dev/null
jobs=$(nproc 2>/dev/null || echo 2)
echo "run.sh: building murvecolor and murvesim, $jobs at a time"
cmake --build "$source/build-run" -j "$jobs"

if [ -n "${MURVECOLOR_COM5:-}" ]; then
  echo "run.sh: MURVECOLOR_COM5=$(printf %q "$MURVECOLOR_COM5") $shown/murvecolor -com 5" \
    "-config $shown_settings -verify"
  exec "$source/build-run/murvecolor" -com 5 -config "$settings" -verify
fi

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
"$source/build-run/murvesim" --link "$work/murve-com5" --eeprom "$work/eeprom.bin" \
  >"$work/murvesim.out" &
sim_pid=$!
for _ in $(seq 50); do
  [ -s "$work/murvesim.out" ] && break
  sleep 0.1
done
echo "run.sh: programming a simulated MURVE Pro with $shown_settings"
status=0
MURVECOLOR_COM5="$work/murve-com5" "$source/build-run/murvecolor" -com 5 -config "$settings" \
  -verify || status=$?
cat <<EOF
run.sh: that simulated device is gone now; to try again by hand, start one (kill %1 stops it)
  $shown/murvesim --link /tmp/murve-com5 --eeprom /tmp/eeprom.bin &
  $shown/murvecolor -port /tmp/murve-com5 -config $shown_settings -verify
EOF
exit "$status"
