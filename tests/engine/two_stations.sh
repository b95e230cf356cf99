#!/usr/bin/env bash
# Two stations over the SDR loop device, each in a working directory of its own with a
# loop.txt: A transmits test frames with a callsign, B receives them, shows the callsign and
# sees A's PTT datagrams in order.
#   two_stations.sh LOOP_STATION LIBRARY
set -u
station=$1
library=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarpo-two.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
# Ports from the process id, so that parallel runs do not meet: A sends to B's receive port,
# A's PTT goes to that port + 1, where B listens as a radio would. The scripted tests take
# disjoint blocks of 30000..32767, below the kernel's ephemeral ports (32768 and up), where
# any socket that sends without binding may sit, and above the C++ tests' 10000..29999:
# this test 30000..30599, the program under Xvfb 30600..31199, the driven program
# 31200..31799, the operator test 31800..32748; the keyer-file and settings-file tests share
# 32750..32765, which they may since both run alone (RUN_SERIAL).
base=$((30000 + ($$ % 75) * 8))
mkdir -p "$tmp/a" "$tmp/b"
printf 'rx_port %d\ntx_host 127.0.0.1\ntx_port %d\n' $((base)) $((base + 2)) > "$tmp/a/loop.txt"
printf 'rx_port %d\ntx_host 127.0.0.1\ntx_port %d\n' $((base + 2)) $((base + 4)) > "$tmp/b/loop.txt"
(cd "$tmp/b" && exec "$station" "$library" rx 6 $((base + 3)) DL1ABC) > "$tmp/b.out" 2>&1 &
receiver=$!
sleep 0.5
(cd "$tmp/a" && exec "$station" "$library" tx 4 dl1abc) > "$tmp/a.out" 2>&1
sender=$?
wait $receiver
status=$?
cat "$tmp/a.out" "$tmp/b.out"
[ $sender -eq 0 ] || { echo "sender failed ($sender)"; exit 1; }
exit $status
