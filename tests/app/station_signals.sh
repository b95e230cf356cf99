#!/usr/bin/env bash
# tarpo-cli station over the SDR loop device, worked by signals. An over of DL1ABC is played
# into the loop device's receive port as a software radio would; the station prints its line;
# SIGUSR1 asks for a status line; a second over is cut by SIGTERM halfway. Afterwards: status
# 0, heard.csv whole (the header and an entry per over, every line complete), the report that
# waited sent at the end, and never a transmission.
#   station_signals.sh TARPO_CLI
set -u
cli=$1
command -v python3 >/dev/null 2>&1 || { echo "SKIP: python3 is not installed"; exit 77; }
# Under AddressSanitizer: the sound libraries' own start-up allocations are not ours to report.
here=$(cd "$(dirname "$0")/.." && pwd)
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/ui/system_libraries.supp"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarpo-station.XXXXXX") || exit 1
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    [ -n "${KEEP_TMP:-}" ] || rm -rf "$tmp"
}
trap cleanup EXIT
cd "$tmp" || exit 1
fail() { echo "FAIL: $*"; cat out.txt err.txt 2>/dev/null; exit 1; }

# Ports 32750..32765 are shared with the keyer-file and settings-file tests: all three run
# alone (RUN_SERIAL). See tests/engine/two_stations.sh for the blocks of the scripted tests.
base=32756
loop_in=$("$cli" devices | awk '/SDR Loop In Device/ { print $1; exit }')
loop_out=$("$cli" devices | awk '/SDR Loop Out Device/ { print $1; exit }')
[ -n "$loop_in" ] && [ -n "$loop_out" ] || fail "the loop library is not found beside tarpo-cli"
mkdir st
# The loop device reads loop.txt of the working directory; the station's own files are in st/.
printf 'rx_port %d\ntx_host 127.0.0.1\ntx_port %d\n' $base $((base + 2)) > loop.txt
printf -- '-1 SCouttx\n-1 SCintx\n%d SCoutrx\n%d SCintx\n' "$loop_out" "$loop_in" > st/sc.txt
"$cli" tx --test-frames --seconds 8 --callsign dl1abc over.wav > /dev/null || fail "tx"

# The collector: one line per datagram.
python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
while True:
    d = s.recv(65536)
    print(len(d), flush=True)
' $((base + 4)) > reports.txt &
pids+=($!)
# play FILE SECONDS: 16-bit datagrams of 1920 samples every 40 ms, as a software radio sends.
play() {
    python3 -c '
import socket, sys, time
data = open(sys.argv[1], "rb").read()[44:]
end = min(len(data), int(float(sys.argv[3]) * 96000))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
due = time.monotonic()
for at in range(0, end - 3839, 3840):
    s.sendto(data[at:at + 3840], ("127.0.0.1", int(sys.argv[2])))
    due += 0.04
    time.sleep(max(0.0, due - time.monotonic()))
' "$1" $base "$2"
}
wait_for() {  # PATTERN FILE: up to 30 s
    for _ in $(seq 300); do grep -q "$1" "$2" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}

"$cli" station --config st --report-to 127.0.0.1:$((base + 4)) --callsign N0CALL \
    --locator FN42hn --dial 14236000 > out.txt 2> err.txt &
station=$!
pids+=($station)
wait_for '^listening on ' out.txt || fail "the station did not start"
sleep 1
play over.wav 8
wait_for '  DL1ABC  SNR ' out.txt || fail "no line for the first over"
kill -USR1 $station
wait_for '^status: .*entries 1' out.txt || fail "no status line"
play over.wav 4
kill -TERM $station
wait $station
status=$?
pids=("${pids[@]:0:1}")
[ $status -eq 0 ] || fail "status $status after SIGTERM"
[ "$(grep -c '  DL1ABC  SNR ' out.txt)" = 2 ] || fail "the cut over was not logged"
[ "$(wc -l < st/heard.csv)" = 3 ] || fail "heard.csv: $(cat st/heard.csv)"
awk -F, 'NR > 1 && (NF != 8 || $3 != "DL1ABC") { bad = 1 } END { exit bad }' st/heard.csv ||
    fail "heard.csv: $(cat st/heard.csv)"
for _ in $(seq 30); do [ -s reports.txt ] && break; sleep 0.1; done
[ "$(wc -l < reports.txt)" = 1 ] || fail "reports: $(cat reports.txt)"
! grep -qi 'ptt\|keyed' err.txt || fail "something about keying: $(cat err.txt)"
cat out.txt
echo "PASS"
