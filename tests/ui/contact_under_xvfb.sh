#!/usr/bin/env bash
# Log contact in the real program under a virtual X server, over the SDR loop device. Station
# A (callsign DL1ABC) sends an over of speech with the voice keyer; station B (N0CALL, FN42hn,
# reports and the logger messages on towards a collector here, network.txt's dial 14236000)
# hears it, and program_driver.cpp's "contact" order presses Ctrl+L in B's heard stations and
# confirms the Log contact dialog. Afterwards:
#   - B's contacts.adi holds one contact: DL1ABC, FREQ the dial and the audio centre, band 20m,
#     DIGITALVOICE, the reports, N0CALL, FN42hn and the name;
#   - the logger's port got a Heartbeat, a Status, QSOLogged (DL1ABC) and LoggedADIF (the same
#     record), and Close at the end;
#   - the reports' port got the spot of DL1ABC, once the program sends reports (a note until
#     then).
#   contact_under_xvfb.sh TARPO TARPO_DRIVEN TARPO_CLI HEARD_CHECK
set -u
tarpo=$1
driven=$2
cli=$3
check=$4
. "$(dirname "$0")/session_common.sh"
need_tools xvfb-run espeak-ng python3
enter_temp contact
export PULSE_SERVER="unix:$tmp/no-sound-server"
fail() { echo "FAIL: $*"; cat a.trace b.trace collected.txt 2>/dev/null; exit 1; }

# Ports 32781..32790: B receives on 32781 (A's PTT datagrams go to 32782), the logger listens
# on 32783 and the reports' collector on 32784; B's voice output goes to 32785 (its PTT to
# 32786); A receives on 32788, where nothing comes.
mkdir a b
printf 'rx_port 32788\ntx_host 127.0.0.1\ntx_port 32781\n' > a/loop.txt
printf 'rx_port 32781\ntx_host 127.0.0.1\ntx_port 32785\n' > b/loop.txt
loop_entries "$cli"
printf '%d SCouttx\n-1 SCintx\n-1 SCoutrx\n%d SCintx\n' "$loop_out" "$loop_in" > a/sc.txt
printf -- '-1 SCouttx\n-1 SCintx\n%d SCoutrx\n%d SCintx\n' "$loop_out" "$loop_in" > b/sc.txt
printf 'DL1ABC' > a/cs.txt
printf 'N0CALL' > b/cs.txt
printf 'FN42hn\n' > b/locator.txt
printf 'window 0 0 600 380\n' > a/operator.txt
printf 'window 620 0 600 380\n' > b/operator.txt
printf 'report on\nreport_to 127.0.0.1:32784\ndial 14236000\nlogger on\nlogger_to 127.0.0.1:32783\n' \
    > b/network.txt
espeak-ng -s 140 -w speech.wav "This is DL1ABC testing the voice keyer. The quick brown fox \
jumps over the lazy dog." || fail "espeak-ng failed"

# Each datagram as "PORT HEX" on a line of its own.
cat > collect.py <<'COLLECT'
import select, signal, socket, sys
socks = []
for port in (32783, 32784):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", port))
    socks.append(s)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
with open("collected.txt", "w") as out:
    while True:
        for s in select.select(socks, [], [])[0]:
            data = s.recv(65536)
            out.write("%d %s\n" % (s.getsockname()[1], data.hex()))
            out.flush()
COLLECT

cat > session.sh <<SESSION
#!/usr/bin/env bash
python3 collect.py &
collector=\$!
(cd b && TARPO_DRIVE=contact exec "$driven" --trace-controls 2> ../b.trace) &
station_b=\$!
sleep 3
(cd a && exec "$tarpo" --trace-controls --transmit ../speech.wav 2> ../a.trace) &
station_a=\$!
for _ in \$(seq 1200); do
    grep -q '^driver: finished' b.trace 2>/dev/null && break
    kill -0 \$station_b 2>/dev/null || break
    sleep 0.1
done
kill -TERM \$station_a \$station_b
wait \$station_a
wait \$station_b
echo "exit \$?" >> b.trace
# A reporter sends what it holds at the end: a moment for it to arrive.
sleep 1
kill -TERM \$collector
wait \$collector
SESSION
chmod +x session.sh
xvfb-run -a -s "-screen 0 1220x380x24" ./session.sh

grep -q 'ThreadSanitizer' b.trace && fail "ThreadSanitizer reported"
grep -q '^driver: contact dialog shown' b.trace || fail "no Log contact dialog"
grep -q '^driver: contact logged' b.trace || fail "the dialog did not close on OK"
grep -q '^driver: finished' b.trace || fail "the driver did not finish"
grep -q '^exit 0' b.trace || fail "B's exit status"
grep -q '^driver: message \([0-9:]* \)\?Logged DL1ABC in contacts.adi' b.trace ||
    fail "no message of the contact"

# contacts.adi: one contact, read back.
[ -f b/contacts.adi ] || fail "no contacts.adi"
"$check" adif b/contacts.adi > adif.txt || fail "contacts.adi does not read as ADIF"
cat adif.txt
[ "$(grep -c -- '^--$' adif.txt)" = 1 ] || fail "contacts.adi should hold one contact"
for want in CALL=DL1ABC BAND=20m MODE=DIGITALVOICE STATION_CALLSIGN=N0CALL MY_GRIDSQUARE=FN42hn \
    NAME=Hans; do
    grep -qx "$want" adif.txt || fail "contacts.adi lacks $want"
done
grep -qE '^RST_SENT=5[1-9]$' adif.txt && grep -qE '^RST_RCVD=5[1-9]$' adif.txt ||
    fail "reports in contacts.adi"
# The dial and the audio centre (1500 Hz, give or take the receiver's tuning).
freq=$(sed -n 's/^FREQ=//p' adif.txt)
awk -v f="$freq" 'BEGIN { exit !(f >= 14.2370 && f <= 14.2380) }' || fail "FREQ=$freq"

# The logger's messages: their types, in order of arrival.
types=$(while read -r port hex; do
    [ "$port" = 32783 ] && printf '%d ' "0x${hex:16:8}"
done < collected.txt)
echo "logger messages: $types"
for type in 0 1 5 12; do
    [[ " $types" == *" $type "* ]] || fail "no logger message of type $type"
done
[[ "$types" == *" 6 " ]] || fail "Close is not the last logger message"
hex_of() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
awk '$1 == 32783 && substr($2, 17, 8) == "00000005"' collected.txt | grep -q "$(hex_of DL1ABC)" ||
    fail "QSOLogged without DL1ABC"
awk '$1 == 32783 && substr($2, 17, 8) == "0000000c"' collected.txt |
    grep -q "$(hex_of '<CALL:6>DL1ABC')" || fail "LoggedADIF without the record"

# The spot, sent when B's program ended (the batch waits up to 5 minutes, the end flushes it).
awk '$1 == 32784' collected.txt | grep -q "$(hex_of DL1ABC)" || fail "no reception report of DL1ABC"
echo "reception report of DL1ABC arrived"
echo "PASS"
