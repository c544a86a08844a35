#!/usr/bin/env bash
# veltris-tray on a private X server: the icon docks in a tray host that starts
# after the tray program, is grey while no agent answers, then shows the
# agent's state while it replays a capture (red on errors, grey when idle),
# and docks again in a tray host that replaces the first.
# Usage: tray_xvfb_test.sh VELTRIS-TRAY TRAY-HOST TAPSORSV MAKE-TRACE
set -euo pipefail
tray=$1 host=$2 agent=$3 make_trace=$4
work=$(mktemp -d /tmp/veltris-tray-xvfb.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "--- tray host:" >&2; cat "$work/host.out" >&2 || true
  echo "--- tray:" >&2; cat "$work/tray.err" >&2 || true
  exit 1
}

# Waits up to $2 seconds for a line matching $1 in the host's output.
await() {
  for _ in $(seq $(( $2 * 10 ))); do
    grep -q "$1" "$work/host.out" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no '$1' within $2 s"
}

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
export VELTRIS_ROOT="$work/root" XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work/config" VELTRIS_EPM_PORT=0
export QT_QPA_PLATFORM=xcb
mkdir -p "$VELTRIS_ROOT/etc/veltris"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\n"OpenKey"="secret"\n' \
  >"$VELTRIS_ROOT/etc/veltris/registry.reg"

"$tray" 2>"$work/tray.err" &
pids+=($!)
sleep 2  # the tray program runs with no system tray yet
"$host" >"$work/host.out" &
first_host=$!
pids+=($first_host)
await DOCKED 5
await "COLOUR c8c8c8" 5   # grey: no agent

"$make_trace" "$work/trace.pcap" 300 >/dev/null
"$agent" -debug "$work/trace.pcap@02:00:00:00:00:01" >"$work/agent.out" 2>&1 &
pids+=($!)
await "COLOUR ff0000" 20  # the replay's errors
sed -n '/COLOUR ff0000/,$p' "$work/host.out" >"$work/after"
for _ in $(seq 60); do grep -q "COLOUR c8c8c8" "$work/after" && break; sleep 0.1; sed -n '/COLOUR ff0000/,$p' "$work/host.out" >"$work/after"; done
grep -q "COLOUR c8c8c8" "$work/after" || fail "the icon did not turn idle after the replay"

# A tray host that goes away and comes back gets the icon again.
kill "$first_host"
wait "$first_host" 2>/dev/null || true
mv "$work/host.out" "$work/host1.out"
"$host" >"$work/host.out" &
pids+=($!)
await DOCKED 5
echo "PASS: $(tr '\n' ' ' <"$work/host1.out") / $(tr '\n' ' ' <"$work/host.out")"
