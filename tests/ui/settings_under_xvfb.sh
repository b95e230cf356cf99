#!/usr/bin/env bash
# The real program against hostile settings files under a virtual X server: each of
# operator.txt with sizes that once hung or crashed it (32767 x 32767, 100000 x 100000,
# 2147483647, negative, garbage), and each settings file (radio.txt, receiver.txt,
# sc_names.txt, txport.path, operator.txt, heard.csv) as a FIFO and as a link to /dev/zero.
# Every time it must start within 5 s (the "started" line of --trace-controls) and end on
# SIGTERM by itself within 5 s with status 0, never by a signal. Without a display it must
# say so in one line and exit 2.
#   settings_under_xvfb.sh TARPO TARPO_CLI
set -u
tarpo=$1
cli=$2
. "$(dirname "$0")/session_common.sh"
need_tools xvfb-run
enter_temp settings

# Without a display: one line, exit status 2, before Qt is started.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tarpo" > out.txt 2> err.txt
status=$?
if [ $status != 2 ] || [ "$(wc -l < err.txt)" != 1 ] || ! grep -q '^tarpo: no display' err.txt; then
    echo "FAIL: without a display: status $status, said:"
    cat err.txt
    exit 1
fi
echo "without a display: status 2, $(cat err.txt)"

# Ports 32750..32765: see tests/engine/two_stations.sh for the blocks of the scripted tests.
base=$((32750 + ($$ % 4) * 4))
loop_entries "$cli"

# One case: a fresh directory with the loop device as rx input and the hostile file made by
# the commands in $2.
cat > case.sh <<CASE
#!/usr/bin/env bash
name=\$1
make=\$2
dir=$tmp/case-\$name
mkdir -p "\$dir" && cd "\$dir" || exit 1
printf 'rx_port %d\ntx_host 127.0.0.1\ntx_port %d\n' $base $((base + 2)) > loop.txt
printf '0 SCouttx\n0 SCintx\n0 SCoutrx\n%d SCintx\n' $loop_in > sc.txt
eval "\$make"
t0=\$(date +%s%N)
"$tarpo" --trace-controls > out.txt 2> trace.txt &
app=\$!
started=0
for _ in \$(seq 50); do
    if grep -q '^started' trace.txt; then started=1; break; fi
    kill -0 \$app 2>/dev/null || break
    sleep 0.1
done
t1=\$(date +%s%N)
kill -TERM \$app 2>/dev/null
status=timeout
for _ in \$(seq 50); do
    if ! kill -0 \$app 2>/dev/null; then wait \$app; status=\$?; break; fi
    sleep 0.1
done
t2=\$(date +%s%N)
if [ \$status = timeout ]; then kill -KILL \$app; wait \$app; fi
if [ \$started = 1 ] && [ \$status = 0 ]; then
    printf 'ok    %-44s started in %4d ms, ended %4d ms after SIGTERM\n' "\$name" \
        \$(( (t1 - t0) / 1000000 )) \$(( (t2 - t1) / 1000000 ))
    exit 0
fi
echo "FAIL  \$name: started \$started, exit status \$status; it said:"
cat trace.txt out.txt
exit 1
CASE
chmod +x case.sh

cat > session.sh <<'SESSION'
#!/usr/bin/env bash
failed=0
run() { ./case.sh "$@" || failed=1; }
for size in "0 0 32767 32767" "0 0 100000 100000" "0 0 2147483647 2147483647" \
            "-2147483648 -5 -300 -200" "x\377\001 99999999999999999999999 1e9"; do
    run "operator-${size// /_}" "printf 'window $size\nrecord 1\n' > operator.txt"
done
for file in radio.txt receiver.txt sc_names.txt txport.path operator.txt heard.csv; do
    run "$file-fifo" "mkfifo $file"
    run "$file-zero" "ln -s /dev/zero $file"
done
exit $failed
SESSION
chmod +x session.sh
xvfb-run -a -n 87 -s "-screen 0 800x600x24" ./session.sh
