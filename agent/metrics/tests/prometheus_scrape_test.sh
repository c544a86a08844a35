#!/usr/bin/env bash
# End to end: an agent replays a capture with the metrics endpoint on; curl's
# page passes promtool; a real Prometheus server scrapes it, and its stored
# frame totals equal the agent's "TOTAL" reply.
#   prometheus_scrape_test.sh TAPSORSV MAKE_TRACE VELTRIS_CLI
set -euo pipefail
tapsorsv=$1 make_trace=$2 cli=$3
for tool in prometheus promtool curl; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/install-deps installs it)"; exit 1; }
done

work=$(mktemp -d)
agent="" prom=""
cleanup() {
  [ -n "$prom" ] && kill "$prom" 2>/dev/null || true
  [ -n "$agent" ] && kill -INT "$agent" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
metrics_port=$(free_port)
prom_port=$(free_port)
key=ScrapeKey

mkdir -p "$work/root/etc/veltris"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvik\\VELTRIS\\Parameters]\r\n"OpenKey"="%s"\r\n"MetricsAddress"="127.0.0.1:%s"\r\n' \
  "$key" "$metrics_port" >"$work/root/etc/veltris/registry.reg"
"$make_trace" "$work/trace.pcap" 20000 300 >/dev/null

VELTRIS_ROOT="$work/root" VELTRIS_EPM_PORT=0 "$tapsorsv" -debug "$work/trace.pcap@02:00:00:00:00:01" \
  >"$work/agent.out" 2>&1 &
agent=$!
for _ in $(seq 300); do
  grep -q "replayed" "$work/agent.out" && grep -q "Metrics endpoint listening" "$work/agent.out" && break
  kill -0 "$agent" 2>/dev/null || { cat "$work/agent.out"; exit 1; }
  sleep 0.1
done
grep -q "Metrics endpoint listening" "$work/agent.out" || { cat "$work/agent.out"; echo "no metrics endpoint"; exit 1; }

url="http://127.0.0.1:$metrics_port/metrics"
curl -sf "$url" >"$work/page.txt"
promtool check metrics <"$work/page.txt"
[ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$metrics_port/nothing")" = 404 ]
[ "$(curl -s -o /dev/null -w '%{http_code}' -X POST "$url")" = 405 ]

# The replay has ended, so the totals stand still: TOTAL and the page agree.
total=$(VELTRIS_ROOT="$work/root" "$cli" --key "$key" --json TOTAL)
field() { python3 -c 'import json,sys; d=json.loads(sys.argv[1]); r=d["records"][0]; print(int(r[sys.argv[2]]))' "$total" "$1"; }
sum_page() { awk -v m="$1" -v d="$2" '$1 ~ "^"m"[{]" && $1 ~ "direction=\""d"\"" { s += $2 } END { print s + 0 }' "$work/page.txt"; }
echo "TOTAL: $total" | head -c 600; echo
for pair in "framesSent veltris_session_frames_total sent" "framesReceived veltris_session_frames_total received" \
            "broadcastsSent veltris_broadcast_frames_total sent" "errorsReceived veltris_error_frames_total received"; do
  set -- $pair
  want=$(field "$1"); got=$(sum_page "$2" "$3")
  echo "$1: TOTAL $want, metrics $got"
  [ "$want" = "$got" ] || { echo "mismatch in $1"; exit 1; }
done

cat >"$work/prometheus.yml" <<CONF
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: veltris
    static_configs:
      - targets: ['127.0.0.1:$metrics_port']
CONF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
  --web.listen-address="127.0.0.1:$prom_port" >"$work/prom.out" 2>&1 &
prom=$!
query="sum(veltris_session_frames_total{direction=\"sent\"})"
stored=""
for _ in $(seq 60); do
  answer=$(curl -s --get "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$query" || true)
  stored=$(python3 -c 'import json,sys
try:
  r=json.loads(sys.argv[1])["data"]["result"]
  print(int(float(r[0]["value"][1])) if r else "")
except Exception: print("")' "$answer")
  [ -n "$stored" ] && break
  sleep 0.5
done
want=$(field framesSent)
echo "Prometheus stored $query = ${stored:-nothing}; TOTAL framesSent = $want"
[ "$stored" = "$want" ] || { tail -20 "$work/prom.out"; exit 1; }
echo "1 passed, 0 failed"
