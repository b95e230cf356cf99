#!/usr/bin/env bash
# The delay benchmark over a private PulseAudio server:
#
#   bench/voice/pulse_delay.sh build/bench/voice/delay_bench [--seconds S]
#
# Besides the server's tarpo_a/tarpo_b, a three-channel null sink "probe" carries three mono
# sinks: "mic" (left: the bench plays the microphone into it, station A records its monitor),
# "air" (centre: A transmits into it, B receives from its monitor) and "ear" (right: B's
# speaker). The bench records probe.monitor, so all three are seen on the server's one clock.
set -u
if [ "$#" -lt 1 ]; then
    echo "usage: $0 DELAY_BENCH [--seconds S]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
bench=$(realpath "$1")
shift
exec "$here/../../tests/sound/with_pulseaudio.sh" bash -c '
    set -e
    pactl load-module module-null-sink sink_name=probe rate=48000 channels=3 format=s16le \
        channel_map=front-left,front-center,front-right >/dev/null
    for m in mic:front-left air:front-center ear:front-right; do
        pactl load-module module-remap-sink sink_name=${m%%:*} master=probe channels=1 \
            channel_map=mono master_channel_map=${m#*:} remix=no >/dev/null
    done
    # A fresh null sink renders its first block only after a while: wake it before the run.
    timeout 5 parec --raw --format=s16le --rate=48000 --channels=3 --latency-msec=10 \
        -d probe.monitor 2>/dev/null | head -c 6 >/dev/null || true
    exec "$0" --pulse "$@"
' "$bench" "$@"
