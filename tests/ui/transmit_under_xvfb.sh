#!/usr/bin/env bash
# The transmit switch and the first start in the real program under a virtual X server, over
# the SDR loop device, with a listener on the loop's audio and PTT ports (program_driver.cpp
# works the controls):
#   nocall: sc.txt names the loop device but there is no cs.txt: F12 is refused with the
#           status line's message, and no PTT datagram follows it;
#   setup:  a fresh directory (only loop.txt and transmit.txt with a 3 s time-out): the set-up
#           dialog opens, its test tone reaches the tx output unkeyed, OK writes cs.txt, sc.txt,
#           sc_names.txt, radio.txt, txport.bin and locator.txt; F12 then keys, and the
#           time-out unkeys 3 s later (plus the tail), said in the status line and on stderr.
# Built with ThreadSanitizer (label threads) any report fails the run: the set-up dialog's
# checks use the sound devices on this thread before the worker takes them over.
#   transmit_under_xvfb.sh TARPO_DRIVEN TARPO_CLI UDP_CAPTURE
set -u
driven=$1
cli=$2
capture=$3
. "$(dirname "$0")/session_common.sh"
need_tools xvfb-run
enter_temp transmit
export PULSE_SERVER="unix:$tmp/no-sound-server"
fail() { echo "FAIL: $*"; for f in */trace.txt */ptt.txt; do echo "--- $f"; cat "$f"; done; exit 1; }

# Ports 32766..32780: the loop's audio goes to base, its PTT datagrams to base + 1.
base=$((32766 + ($$ % 3) * 5))
loop_entries "$cli"
mkdir nocall setup
for d in nocall setup; do
    printf 'rx_port %d\ntx_host 127.0.0.1\ntx_port %d\n' $((base + 2)) $base > $d/loop.txt
    printf 'timeout 3\n' > $d/transmit.txt
done
printf '%d SCouttx\n-1 SCintx\n-1 SCoutrx\n%d SCintx\n' "$loop_out" "$loop_in" > nocall/sc.txt

cat > session.sh <<SESSION
#!/usr/bin/env bash
# One run in directory \$1 with TARPO_DRIVE=\$1.
cd \$1 || exit 1
"$capture" $base out.wav $((base + 1)) > ptt.txt &
listener=\$!
sleep 0.3
TARPO_DRIVE=\$1 "$driven" --trace-controls 2> trace.txt &
app=\$!
for _ in \$(seq 300); do
    grep -q '^driver: finished' trace.txt && break
    kill -0 \$app 2>/dev/null || break
    sleep 0.1
done
kill -TERM \$app 2>/dev/null
wait \$app
echo "exit \$?" >> trace.txt
kill -TERM \$listener
wait \$listener
SESSION
chmod +x session.sh
xvfb-run -a -n 131 -s "-screen 0 1024x768x24" sh -c './session.sh nocall; ./session.sh setup'

for d in nocall setup; do
    grep -q 'ThreadSanitizer' $d/trace.txt && fail "$d: ThreadSanitizer reported"
done

# nocall: refused, said, nothing keyed.
grep -q '^driver: finished' nocall/trace.txt || fail "nocall: the driver did not finish"
grep -q '^driver: message \([0-9:]* \)\?Set your callsign first: Settings > Callsign' nocall/trace.txt ||
    fail "nocall: no message about the callsign"
# (The worker sends PTT 0 as it passes through an unkeyed transmit set-up.)
grep -q '^PTT 1' nocall/ptt.txt && fail "nocall: keyed"
f12=$(awk '/^driver: F12/ { print $3 }' nocall/trace.txt)
[ -n "$(awk -v t="$f12" '$1 == "PTT" && $3 >= t && $3 < t + 1500' nocall/ptt.txt)" ] &&
    fail "nocall: a PTT datagram came after F12"
grep -q '^onair 1' nocall/trace.txt && fail "nocall: ON AIR lit"
grep -q '^exit 0' nocall/trace.txt || fail "nocall: exit status"
echo "nocall: F12 refused, '$(sed -n 's/^driver: message //p' nocall/trace.txt)', no PTT after it"

# setup: the dialog, the files, keyed by F12 and unkeyed by the time-out.
grep -q '^driver: set-up dialog shown' setup/trace.txt || fail "setup: no set-up dialog"
grep -q '^driver: set-up confirmed' setup/trace.txt || fail "setup: OK did not close it"
grep -q '^driver: finished' setup/trace.txt || fail "setup: the driver did not finish"
for f in cs.txt sc.txt sc_names.txt radio.txt txport.bin locator.txt; do
    [ -s setup/$f ] || fail "setup: $f not written"
done
[ "$(cat setup/cs.txt)" = DL1ABC ] || fail "setup: cs.txt holds '$(cat setup/cs.txt)'"
[ "$(head -1 setup/sc.txt)" = "$loop_out SCouttx" ] || fail "setup: sc.txt: $(head -1 setup/sc.txt)"
[ "$(sed -n 4p setup/sc.txt)" = "$loop_in SCintx" ] || fail "setup: sc.txt: $(sed -n 4p setup/sc.txt)"
grep -q '^JO31ne$' setup/locator.txt || fail "setup: locator.txt"
f12=$(awk '/^driver: F12/ { print $3 }' setup/trace.txt)
on=$(awk '$1 == "PTT" && $2 == 1 { print $3; exit }' setup/ptt.txt)
off=$(awk -v on="$on" '$1 == "PTT" && $2 == 0 && $3 >= on { print $3; exit }' setup/ptt.txt)
[ -n "$on" ] && [ -n "$off" ] || fail "setup: not keyed and unkeyed"
# The test tone keys nothing: the first PTT 1 comes after F12.
[ "$on" -ge "$f12" ] || fail "setup: keyed $((f12 - on)) ms before F12 (by the test tone?)"
[ "$(wc -c < setup/out.wav)" -ge 90000 ] || fail "setup: the test tone did not reach the tx output"
keyed=$((off - on))
[ "$keyed" -ge 3000 ] && [ "$keyed" -lt 5000 ] || fail "setup: keyed for $keyed ms"
grep -q '^tarpo: transmit time-out after 3 s' setup/trace.txt || fail "setup: no time-out line"
[ "$(grep -c 'transmit time-out' setup/trace.txt)" = 1 ] || fail "setup: time-out said twice"
grep -q '^driver: message \([0-9:]* \)\?Transmit time-out' setup/trace.txt || fail "setup: no time-out message"
grep -q '^exit 0' setup/trace.txt || fail "setup: exit status"
echo "setup: dialog shown, files written, keyed $((on - f12)) ms after F12 for $keyed ms" \
     "(time-out 3 s and the tail)"
