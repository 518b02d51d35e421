#!/usr/bin/env bash
# Builds murvecolor and murvesim, then writes the example settings (or the file given) into a
# MURVE Pro, with -verify: the device that MURVECOLOR_COM5 names, or else a simulated one started
# for the run. The exit status is murvecolor's: 0 when the device holds what was written.
set -euo pipefail
cd "$(dirname "$0")"
settings=${1:-examples/murve_color.cfg}

tools/ensure-packages cmake g++ ninja-build
cmake -S . -B build-run -G Ninja -DMURVECOLOR_BUILD_TESTS=OFF >/dev/null
cmake --build build-run >/dev/null

if [ -n "${MURVECOLOR_COM5:-}" ]; then
  exec build-run/murvecolor -com 5 -config "$settings" -verify
fi

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
build-run/murvesim --link "$work/murve-com5" --eeprom "$work/eeprom.bin" >"$work/murvesim.out" &
sim_pid=$!
for _ in $(seq 50); do
  [ -s "$work/murvesim.out" ] && break
  sleep 0.1
done
echo "# simulated MURVE Pro: $(cat "$work/murvesim.out")"
echo "# build-run/murvecolor -com 5 -config $settings -verify"
MURVECOLOR_COM5="$work/murve-com5" build-run/murvecolor -com 5 -config "$settings" -verify
