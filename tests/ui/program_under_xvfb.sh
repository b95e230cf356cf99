#!/usr/bin/env bash
# The real program under a virtual X server: started in an empty directory with the loop
# library beside it and the SDR loop device as rx input, it is fed a signal from
# `tarpo-cli tx --callsign` over UDP. Within a few seconds the callsign must appear in control
# 1115 and the squelch indicator 1126 must be set; closing the window (SIGTERM, which the
# program turns into a normal close) must end the process within two seconds with status 0.
#   program_under_xvfb.sh TARPO TARPO_CLI UDP_PLAY [SCREENSHOT.png]
set -u
tarpo=$1
cli=$2
play=$3
shot=${4:-}
. "$(dirname "$0")/session_common.sh"
need_tools xvfb-run
enter_temp xvfb

# Ports 30600..31199: see tests/engine/two_stations.sh for the blocks of the scripted tests.
base=$((30600 + ($$ % 150) * 4))
printf 'rx_port %d\ntx_host 127.0.0.1\ntx_port %d\n' $base $((base + 2)) > loop.txt
loop_entries "$cli"
printf '0 SCouttx\n0 SCintx\n0 SCoutrx\n%d SCintx\n' "$loop_in" > sc.txt
"$cli" tx --test-frames --seconds 30 --callsign dl1abc signal.wav > /dev/null || exit 1

cat > session.sh <<SESSION
#!/usr/bin/env bash
"$tarpo" --trace-controls 2> trace.txt &
app=\$!
"$play" signal.wav $base &
player=\$!
ok=0
for _ in \$(seq 150); do
    if grep -q '^1115 DL1ABC' trace.txt && grep -q '^1126 1' trace.txt; then ok=1; break; fi
    sleep 0.1
done
if [ \$ok = 1 ] && [ -n "$shot" ]; then
    sleep 6
    import -window root "$shot" 2>/dev/null || true
fi
kill -TERM \$app
started=\$(date +%s%N)
wait \$app
status=\$?
ended=\$(date +%s%N)
kill \$player 2>/dev/null
echo "callsign and squelch seen: \$ok; exit status \$status after \$(( (ended - started) / 1000000 )) ms"
[ \$ok = 1 ] && [ \$status = 0 ] && [ \$(( (ended - started) / 1000000 )) -lt 2000 ]
SESSION
chmod +x session.sh
xvfb-run -a -s "-screen 0 800x600x24" ./session.sh
status=$?
cat trace.txt
exit $status
