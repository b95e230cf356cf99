#!/usr/bin/env bash
# Runs CMD inside a private PulseAudio sound server, then stops the server:
#
#   tests/sound/with_pulseaudio.sh [--tries N] CMD [ARGS...]
#
# --tries N runs CMD up to N times on the same server until it passes: a real-time check on a
# shared machine now and then loses a few milliseconds of sound to the scheduler, outside the
# program (the sound library's thread was not run in time). Every try's output is printed;
# a fault of ours fails every try.
#
# The server has two null sinks at 48000 Hz mono, "tarpo_a" and "tarpo_b" (described as
# "Radio A" and "Radio B"); what is played into a sink comes back on its monitor source. CMD sees a private HOME whose .asoundrc names
# four ALSA PCMs of type pulse, which PortAudio lists under these names:
#
#   tarpo_a           plays into sink tarpo_a
#   tarpo_a_monitor   records what sink tarpo_a plays
#   tarpo_b           plays into sink tarpo_b
#   tarpo_b_monitor   records what sink tarpo_b plays
#
# ALSA's "default" device also goes to this server (default sink tarpo_a). Find the list
# indexes with SoundInterface::find_output("tarpo_a") / find_input("tarpo_a_monitor"), or run
# `with_pulseaudio.sh build/tests/sound/sound_loopback_check --list`.
#
# Works as root (CI) and as an ordinary user. Exits 77 (CTest's skip code) when no PulseAudio
# server can start here; otherwise exits with CMD's status.
set -u

tries=1
if [ "${1:-}" = --tries ] && [ "$#" -ge 2 ]; then
    tries=$2
    shift 2
fi
if [ "$#" -eq 0 ]; then
    echo "usage: $0 [--tries N] CMD [ARGS...]" >&2
    exit 2
fi
if ! command -v pulseaudio >/dev/null 2>&1; then
    echo "SKIP: pulseaudio is not installed, no real-sound test here"
    exit 77
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarpo-pulse.XXXXXX") || exit 1
pid=""
keepalive=()
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    # The monitor recorders end with the server; their pipelines are ours to reap.
    for k in "${keepalive[@]}"; do kill "$k" 2>/dev/null; wait "$k" 2>/dev/null; done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A fresh runtime directory and home: the server's socket, cookie and the ALSA configuration
# live there, so nothing of a user session (or another test's server) is seen or touched.
export XDG_RUNTIME_DIR="$tmp/run"
export HOME="$tmp/home"
mkdir -p "$XDG_RUNTIME_DIR" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset PULSE_SINK PULSE_SOURCE PULSE_COOKIE DBUS_SESSION_BUS_ADDRESS
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"

cat >"$HOME/.asoundrc" <<'EOF'
pcm.tarpo_a {
    type pulse
    device tarpo_a
    hint { show on description "TARPO test sink A" }
}
pcm.tarpo_a_monitor {
    type pulse
    device tarpo_a.monitor
    hint { show on description "TARPO test sink A, monitor" }
}
pcm.tarpo_b {
    type pulse
    device tarpo_b
    hint { show on description "TARPO test sink B" }
}
pcm.tarpo_b_monitor {
    type pulse
    device tarpo_b.monitor
    hint { show on description "TARPO test sink B, monitor" }
}
EOF

# -n: no default configuration script, only the modules named here. As root the server warns
# that it is meant for --system, and runs anyway in user mode.
pulseaudio --daemonize=no --exit-idle-time=-1 -n --system=false --use-pid-file=false \
    --log-target=file:"$tmp/pulse.log" \
    -L module-native-protocol-unix \
    -L "module-null-sink sink_name=tarpo_a rate=48000 channels=1 format=s16le sink_properties=\"device.description='Radio A'\"" \
    -L "module-null-sink sink_name=tarpo_b rate=48000 channels=1 format=s16le sink_properties=\"device.description='Radio B'\"" \
    </dev/null >/dev/null 2>"$tmp/pulse.err" &
pid=$!

ready=0
for _ in $(seq 100); do
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    if [ -S "$XDG_RUNTIME_DIR/pulse/native" ]; then
        if ! command -v pactl >/dev/null 2>&1 || pactl list short sinks 2>/dev/null | grep -q tarpo_b; then
            ready=1
            break
        fi
    fi
    sleep 0.1
done
if [ "$ready" -ne 1 ]; then
    echo "SKIP: no PulseAudio server could start here; its messages:"
    cat "$tmp/pulse.err" "$tmp/pulse.log" 2>/dev/null
    exit 77
fi

# A fresh null sink renders its first block only after up to 2 s, whoever connects: streams
# opened before that stall at start. A low-latency recorder on each monitor keeps the sinks
# rendering in small blocks for the whole run; once both recorders got their first bytes the
# sinks are awake. (Recording a monitor does not change what is played into the sink.)
if command -v parec >/dev/null 2>&1; then
    for sink in tarpo_a tarpo_b; do
        parec --raw --format=s16le --rate=48000 --channels=1 --latency-msec=10 \
            -d "$sink.monitor" 2>/dev/null |
            { head -c 2 >"$tmp/$sink.awake"; cat >/dev/null; } &
        keepalive+=("$!")
    done
    for _ in $(seq 100); do
        if [ -s "$tmp/tarpo_a.awake" ] && [ -s "$tmp/tarpo_b.awake" ]; then break; fi
        sleep 0.1
    done
fi

# Under AddressSanitizer: the sound libraries' own start-up allocations are not ours to
# report; full unwinding lets the suppression see the ALSA frames below uninstrumented code.
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/sound_libraries.supp"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"

status=1
for try in $(seq "$tries"); do
    [ "$try" -gt 1 ] && echo "-- try $try of $tries, after a failed one:"
    "$@"
    status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 77 ] && break
done
exit "$status"
