#!/usr/bin/env bash
# veltris-tray as a user who may not read the registry (0600, root's), on a
# private X server with the test tray host. A wrong password typed at start is
# refused once and never sent again; ten seconds later the right password,
# offered with a double-click on the icon, is accepted: the tray polls and
# veltris-cli as that user is served (no lock-out). The settings dialog as that
# user shows the stored folder, read through the helper's "read" verb (a stand-in
# pkexec hands the call to a root-side runner).
# The console on this root (no "Title" in the registry): as root it connects to
# the local agent at once; as nobody it asks for the password first.
# Usage: tray_lockout_xvfb_test.sh VELTRIS-TRAY TRAY-HOST TAPSORSV MAKE-TRACE VELTRIS-CLI SETTINGS-HELPER SETTINGS-TEST
#        VELTRIS
set -euo pipefail
tray=$1 host=$2 agent=$3 make_trace=$4 cli=$5 helper=$6 settings_test=$7 console=$8
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root to run programs as nobody"; exit 77; fi
command -v xdotool >/dev/null || { echo "SKIP: xdotool missing"; exit 77; }
work=$(mktemp -d /tmp/veltris-tray-lockout.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in host.out tray.err agent.out settings.out; do echo "--- $f:" >&2; cat "$work/$f" >&2 2>/dev/null || true; done
  exit 1
}
await() {  # PATTERN FILE SECONDS
  for _ in $(seq $(( $3 * 10 ))); do
    grep -q "$1" "$2" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no '$1' in $(basename "$2") within $3 s"
}
# Waits for the console's caption to show the agent's host ("VELTRIS - HOST  IP..."), not "Local".
connected_console() {
  local name
  for _ in $(seq 150); do
    for w in $(xdotool search --onlyvisible --name '^VELTRIS - ' 2>/dev/null); do
      name=$(xdotool getwindowname "$w" 2>/dev/null || true)
      case "$name" in *Local*|"VELTRIS - ") ;; *) echo "$name"; return 0 ;; esac
    done
    sleep 0.1
  done
  return 1
}
metric() {  # the value of one sample of the agent's metrics page, 0 when absent
  curl -s "http://127.0.0.1:$port/metrics" | awk -v s="$1" 'index($0, s) == 1 { print $2; found=1 } END { if (!found) print 0 }'
}
as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
  XDG_CONFIG_HOME="$work/home/config" VELTRIS_ROOT="$work/root" VELTRIS_EPM_PORT=0 "$@"; }
# Types TEXT into the password question (window title $2, default VELTRIS) once it shows.
answer() {
  local win
  win=$(timeout 10 xdotool search --sync --onlyvisible --name "^${2:-VELTRIS}\$" | head -1) ||
    fail "no password question"
  xdotool windowfocus --sync "$win" 2>/dev/null || true
  sleep 0.3
  xdotool type --delay 20 "$1"
  xdotool key Return
}

mkdir -p "$work/home" "$work/run" "$work/root/etc/veltris" "$work/History"
chown nobody:nogroup "$work/home" "$work/run"
chmod 700 "$work/run"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\n"OpenKey"="rightkey"\n"DataPath"="%s"\n"MetricsAddress"="127.0.0.1:0"\n' \
  "$work/History" >"$work/root/etc/veltris/registry.reg"
chmod 600 "$work/root/etc/veltris/registry.reg"

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
"$host" >"$work/host.out" &
pids+=($!)
await READY "$work/host.out" 5

"$make_trace" "$work/trace.pcap" 300 >/dev/null
VELTRIS_ROOT="$work/root" VELTRIS_EPM_PORT=0 "$agent" -debug "$work/trace.pcap@02:00:00:00:00:01" >"$work/agent.out" 2>&1 &
pids+=($!)
await "Metrics endpoint listening" "$work/agent.out" 20
port=$(sed -n 's/.*(port \([0-9]*\)).*/\1/p' "$work/agent.out" | head -1)

as_user env QT_QPA_PLATFORM=xcb "$tray" 2>"$work/tray.err" &
pids+=($!)
await DOCKED "$work/host.out" 10
answer wrongkey
for _ in $(seq 100); do [ "$(metric 'veltris_requests_total{word="OPEN",result="wrong_key"}')" = 1 ] && break; sleep 0.1; done
[ "$(metric 'veltris_requests_total{word="OPEN",result="wrong_key"}')" = 1 ] || fail "the wrong key did not reach the agent"
sleep 10
wrong=$(curl -s "http://127.0.0.1:$port/metrics" | awk '/^veltris_requests_total/ && /wrong_key|locked_out/ { n += $2 } END { print n + 0 }')
[ "$wrong" = 1 ] || fail "the refused key was sent again: $wrong wrong or locked-out requests"
[ "$(metric veltris_access_key_lockouts_total)" = 0 ] || fail "the user was locked out"

# A double-click on the icon asks again; the right password is taken.
xdotool mousemove 16 16 click --repeat 2 --delay 100 1
answer rightkey
before=$(metric 'veltris_requests_total{word="TOTAL",result="ok"}')
sleep 3
after=$(metric 'veltris_requests_total{word="TOTAL",result="ok"}')
[ "$after" -gt "$before" ] || fail "the tray does not poll with the right password ($before -> $after)"
as_user "$cli" --key rightkey TOTAL >"$work/cli.out" 2>&1 || fail "veltris-cli as nobody: $(cat "$work/cli.out")"

# The settings dialog as nobody: the stand-in pkexec hands "read" to a root-side runner.
mkdir -p "$work/bin" "$work/fifo"
mkfifo -m 666 "$work/fifo/request" "$work/fifo/reply" "$work/fifo/code"
cat >"$work/bin/pkexec" <<PKEXEC
#!/bin/sh
shift
printf '%s\n' "\$*" >"$work/fifo/request"
cat "$work/fifo/reply"
read code <"$work/fifo/code"
exit "\$code"
PKEXEC
chmod 755 "$work/bin/pkexec"
(
  while read -r verb <"$work/fifo/request"; do
    [ "$verb" = read ] || { : >"$work/fifo/reply"; echo 2 >"$work/fifo/code"; continue; }
    code=0
    VELTRIS_ROOT="$work/root" "$helper" read >"$work/helper.out" 2>/dev/null || code=$?
    cat "$work/helper.out" >"$work/fifo/reply"
    echo "$code" >"$work/fifo/code"
  done
) &
pids+=($!)
as_user env PATH="$work/bin:$PATH" QT_QPA_PLATFORM=offscreen VELTRIS_TEST_STORED_FOLDER="$work/History" VELTRIS_TEST_ROOT="$work/root" \
  "$settings_test" settingsAsUserShowsTheStoredFolderThroughTheHelper >"$work/settings.out" 2>&1 || fail "settings dialog as nobody"
grep -q "^PASS   : SettingsTest::settingsAsUserShowsTheStoredFolderThroughTheHelper" "$work/settings.out" || fail "the settings check did not run"
# The console as root finds the local agent although the registry holds no "Title";
# as nobody it asks for the password and connects to this PC too.
mkdir -m 700 "$work/root-run"
XDG_RUNTIME_DIR="$work/root-run" XDG_CONFIG_HOME="$work/root-config" VELTRIS_ROOT="$work/root" VELTRIS_EPM_PORT=0 \
  QT_QPA_PLATFORM=xcb "$console" 2>"$work/console.err" &
pids+=($!)
caption=$(connected_console) ||
  fail "the console as root did not connect to the local agent: $(cat "$work/console.err")"
kill "${pids[-1]}"
as_user env QT_QPA_PLATFORM=xcb "$console" 2>"$work/console-user.err" &
pids+=($!)
answer rightkey "VELTRIS Connection"
caption_user=$(connected_console) ||
  fail "the console as nobody did not connect to the local agent: $(cat "$work/console-user.err")"
kill "${pids[-1]}"

echo "PASS: one wrong key, no lock-out, TOTAL ok $before -> $after, settings show $work/History;" \
  "console as root: '$caption', as nobody: '$caption_user'"
