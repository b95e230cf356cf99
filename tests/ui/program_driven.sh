#!/usr/bin/env bash
# The real program and the real engine under a virtual X server, worked by program_driver.cpp
# the way an operator would, over the SDR loop device: receiving a test-frame signal played
# into the loop's receive port, transmitting into the loop's send port (the microphone is the
# loop input too). Two runs: controls while receiving then while transmitting, ended by
# SIGTERM while transmitting; and the other way round, ended by SIGTERM while receiving.
# Built with ThreadSanitizer (label threads) any report fails the run; every run must reach
# "driver: finished" and end within a few seconds of the signal with status 0.
#   program_driven.sh TARPO_DRIVEN TARPO_CLI UDP_PLAY
set -u
driven=$1
cli=$2
play=$3
. "$(dirname "$0")/session_common.sh"
need_tools xvfb-run
enter_temp driven
# The same devices whether or not a sound server runs on this machine: none is reachable, only
# the loop device carries sound.
export PULSE_SERVER="unix:$tmp/no-sound-server"

# Ports 31200..31799: see tests/engine/two_stations.sh for the blocks of the scripted tests.
base=$((31200 + ($$ % 150) * 4))
printf 'rx_port %d\ntx_host 127.0.0.1\ntx_port %d\n' $base $((base + 2)) > loop.txt
loop_entries "$cli"
printf '%d SCouttx\n%d SCintx\n0 SCoutrx\n%d SCintx\n' "$loop_out" "$loop_in" "$loop_in" > sc.txt
printf 'DL1ABC' > cs.txt  # without a callsign TX is refused
"$cli" tx --test-frames --seconds 120 --callsign dl1abc signal.wav > /dev/null || exit 1

cat > session.sh <<SESSION
#!/usr/bin/env bash
# One run: TARPO_DRIVE=\$1, its messages in \$1.txt.
"$play" signal.wav $base &
player=\$!
TARPO_DRIVE=\$1 "$driven" --trace-controls 2> \$1.txt &
app=\$!
finished=0
for _ in \$(seq 600); do
    if grep -q '^driver: finished' \$1.txt; then finished=1; break; fi
    kill -0 \$app 2>/dev/null || break
    sleep 0.1
done
kill -TERM \$app 2>/dev/null
ended=0
for _ in \$(seq 100); do
    kill -0 \$app 2>/dev/null || { ended=1; break; }
    sleep 0.1
done
[ \$ended = 1 ] || kill -KILL \$app 2>/dev/null
wait \$app
status=\$?
kill \$player 2>/dev/null
wait \$player 2>/dev/null
echo "\$1: driver finished \$finished, ended after the signal \$ended, exit status \$status"
[ \$finished = 1 ] && [ \$ended = 1 ] && [ \$status = 0 ]
SESSION
chmod +x session.sh
xvfb-run -a -s "-screen 0 800x600x24" sh -c './session.sh rx-tx && ./session.sh tx-rx'
status=$?
for run in rx-tx tx-rx; do
    [ -f $run.txt ] || continue
    echo "--- $run"
    cat $run.txt
    if grep -q 'ThreadSanitizer' $run.txt; then
        echo "FAIL: ThreadSanitizer reported in $run"
        status=1
    fi
done
exit $status
