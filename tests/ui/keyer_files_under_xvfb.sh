#!/usr/bin/env bash
# The real program under a virtual X server, given hostile sound files with
# `tarpo --transmit FILE`: a FLAC whose header claims 2^36-1 samples, WAVs of 1 Hz and 999 Hz,
# a header claiming 4 GB with no samples, NaN samples, 20 ms of sound, a FIFO, a device, a
# directory, a FLAC that loses sync after 1.5 s, and, beside them, a good file and a FLAC that
# loses sync after 5 s. For each: within 5 s the program either refuses the file with one
# "tarpo: FILE: ..." line or keys (ON AIR), without blocking, crashing or growing; the file
# that fails after 5 s is said when it fails, the program going on; SIGTERM closes the window
# and the program ends on its own with status 0, never by a signal.
#   keyer_files_under_xvfb.sh TARPO TARPO_CLI
set -u
tarpo=$1
cli=$2
. "$(dirname "$0")/session_common.sh"
need_tools xvfb-run sox python3
enter_temp keyer
fail() { echo "FAIL: $*"; exit 1; }

# The program transmits over the SDR loop device to ports nobody listens on.
# Ports 32750..32765: see tests/engine/two_stations.sh for the blocks of the scripted tests.
base=$((32750 + ($$ % 4) * 4))
mkdir work
printf 'rx_port %d\ntx_host 127.0.0.1\ntx_port %d\n' $((base + 2)) $base > work/loop.txt
loop_entries "$cli"
printf '%d SCouttx\n-1 SCintx\n-1 SCoutrx\n-1 SCintx\n' "$loop_out" > work/sc.txt
printf 'DL1ABC' > work/cs.txt

# The files.
sox -n -r 8000 -c 1 -b 16 good.wav synth 3 sine 700 vol 0.3 || fail "sox"
sox -n -r 8000 -c 1 -b 16 one.flac synth 1 sine 700 vol 0.3 || fail "sox"
sox -n -r 48000 -c 1 -b 16 early.flac synth 3 sine 700 vol 0.3 || fail "sox"
sox -n -r 48000 -c 1 -b 16 late.flac synth 9 sine 700 vol 0.3 || fail "sox"
python3 - <<'PY' || fail "python3"
import math, struct

def wav(rate, data, fmt=1, width=2, size=None):
    size = len(data) if size is None else size
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, fmt, 1, rate, rate * width, width, 8 * width) +
            b"data" + struct.pack("<I", size) + data)

tone = lambda rate, n: b"".join(struct.pack("<h", int(8000 * math.sin(i / 5))) for i in range(n))
open("rate1.wav", "wb").write(wav(1, tone(1, 48000)))
open("rate999.wav", "wb").write(wav(999, tone(999, 2000)))
open("claims4gb.wav", "wb").write(wav(8000, b"", size=0xfffffff0))
open("short.wav", "wb").write(wav(48000, tone(48000, 960)))
open("nan.wav", "wb").write(wav(48000, b"".join(
    struct.pack("<f", math.nan if i == 12000 else 0.1 * math.sin(i / 10)) for i in range(48000)),
    fmt=3, width=4))
# STREAMINFO's total: the low 4 bits of byte 21 and bytes 22..25.
f = bytearray(open("one.flac", "rb").read())
f[21] |= 0x0F
f[22:26] = b"\xff\xff\xff\xff"
open("huge.flac", "wb").write(f)
# Corrupt a stretch in the middle (by its share of the file: the tone compresses evenly).
for name, at in (("early.flac", 0.5), ("late.flac", 5.5 / 9)):
    f = bytearray(open(name, "rb").read())
    start = int(len(f) * at)
    for i in range(start, start + 3000):
        f[i] ^= 0x5A
    open(name, "wb").write(f)
PY
mkfifo fifo
mkdir directory

# One run: start, wait up to 5 s for a refusal or ON AIR, then SIGTERM. Prints what happened.
#   run FILE SECONDS_TO_STAY
run() {
    local file=$1 stay=$2
    rm -f work/*.trace
    (cd work && exec "$tarpo" --trace-controls --transmit "$file" 2> run.trace > run.out) &
    local app=$! outcome=none
    for _ in $(seq 50); do
        if grep -q "^tarpo: " work/run.trace 2>/dev/null; then outcome=refused; break; fi
        if grep -q '^onair 1' work/run.trace 2>/dev/null; then outcome=keyed; break; fi
        kill -0 $app 2>/dev/null || { outcome=ended; break; }
        sleep 0.1
    done
    sleep "$stay"
    local alive=1
    kill -0 $app 2>/dev/null || alive=0
    kill -TERM $app 2>/dev/null
    local started ended status
    started=$(date +%s%N)
    wait $app
    status=$?
    ended=$(date +%s%N)
    echo "$outcome alive=$alive status=$status $(( (ended - started) / 1000000 ))ms"
    grep '^tarpo: ' work/run.trace
    # A program that ended by itself: the last it said, for the failure's report.
    [ "$alive" = 1 ] || tail -n 8 work/run.trace | sed 's/^/  said: /'
}

cat > session.sh <<'SESSION'
#!/usr/bin/env bash
SESSION
declare -f run >> session.sh
cat >> session.sh <<SESSION
tarpo="$tarpo"
for case in "good.wav keyed" "huge.flac refused" "rate1.wav refused" "rate999.wav refused" \\
            "claims4gb.wav refused" "nan.wav refused" "short.wav refused" "fifo refused" \\
            "/dev/zero refused" "directory refused" "early.flac refused"; do
    set -- \$case
    file=\$1
    [ "\${file#/}" = "\$file" ] && file=../\$file
    echo "== \$1 (\$2 expected): \$(run "\$file" 0.5 | tr '\n' ' ')"
done
# The late failure: keyed at once, the reason said after about 5 s, the program still up.
echo "== late.flac (keyed expected): \$(run ../late.flac 6 | tr '\n' ' ')"
SESSION
chmod +x session.sh
# Displays from 93 up: the other scripts take the first free one from 99.
xvfb-run -a -n 93 -s "-screen 0 800x600x24" ./session.sh > results.txt 2>&1
cat results.txt

# A quit must come within 3 s; a sanitizer build (the leak check at exit, slower code) gets 10.
quit_ms=3000
ldd "$tarpo" 2>/dev/null | grep -Eq 'lib(a|t)san' && quit_ms=10000
bad=0
while read -r _ name expected _ outcome alive status ms rest; do
    expected=${expected#(}
    ms=${ms%ms}
    ok=1
    [ "$outcome" = "$expected" ] || ok=0
    [ "$alive" = alive=1 ] && [ "$status" = status=0 ] && [ "$ms" -lt "$quit_ms" ] || ok=0
    case $expected in
        refused) [[ "$rest" == *"tarpo: "* ]] || ok=0 ;;
        keyed) [[ "$rest" != *"tarpo: "* ]] || [ "$name" = late.flac ] || ok=0 ;;
    esac
    if [ "$name" = late.flac ]; then
        [[ "$rest" == *"cannot be decoded after 5."* ]] || ok=0
    fi
    [ $ok = 1 ] || { echo "FAIL: $name"; bad=1; }
done < <(grep '^== ' results.txt)
[ "$(grep -c '^== ' results.txt)" = 12 ] || fail "not every case ran"
[ $bad = 0 ] || exit 1
echo "PASS"
