#!/usr/bin/env bash
# The native sound-server backend against the private PulseAudio server of with_pulseaudio.sh:
#
#   with_pulseaudio.sh pulse_native_test.sh TARPO_CLI PULSE_STATION_CHECK
#
# tarpo-cli devices lists the null sinks by their descriptions with their stable names; then
# sink tarpo_a is removed and loaded again, which moves it behind tarpo_b in the server's
# order, and a choice saved as its old entry follows its name to the new one, over which two
# stations exchange test frames without a bit error.
set -u
cli=$1
check=$2

fail() { echo "FAIL: $*"; exit 1; }

listing=$(TARPO_SOUND=auto "$cli" devices) || fail "tarpo-cli devices failed"
echo "$listing" | sed -n '1,/^with TARPO_SOUND/p'
in_use=$(echo "$listing" | sed -n '/in use/,/^with TARPO_SOUND/p')
echo "$in_use" | grep -q "sound system in use: the sound server (pulse)" ||
    fail "the sound server is not the one in use"
echo "$in_use" | grep -Eq '^  [0-9]+  Radio A  \[pulse: tarpo_a\]$' || fail "Radio A not listed"
echo "$in_use" | grep -Eq '^  [0-9]+  Monitor of Radio B  \[pulse: tarpo_b\.monitor\]$' ||
    fail "the monitor of Radio B not listed"
echo "$listing" | grep -Eq '^  [0-9]+  tarpo_a  \[portaudio\]$' || fail "PortAudio's list missing"
# Forced: PortAudio numbers the lists.
TARPO_SOUND=portaudio "$cli" devices | grep -q "sound system in use: PortAudio" ||
    fail "TARPO_SOUND=portaudio is not honoured"

entry_of() {  # the output entry that lists stable name $1
    TARPO_SOUND=pulse "$cli" devices |
        awk '/in use/ {u = 1} /^with TARPO_SOUND/ {u = 0} u && /^output devices/ {o = 1} u && o' |
        sed -n "s/^  \([0-9]*\)  .*\[pulse: $1\]\$/\1/p" | head -1
}
before=$(entry_of tarpo_a)
[ -n "$before" ] || fail "tarpo_a has no output entry"

module=$(pactl list short modules | awk '/sink_name=tarpo_a/ {print $1; exit}')
pactl unload-module "$module" || fail "cannot unload tarpo_a"
pactl load-module module-null-sink sink_name=tarpo_a rate=48000 channels=1 format=s16le \
    "sink_properties=\"device.description='Radio A'\"" >/dev/null || fail "cannot load tarpo_a again"
after=$(entry_of tarpo_a)
echo "tarpo_a: output entry $before before it was removed, $after after it came back"
[ -n "$after" ] && [ "$after" != "$before" ] || fail "the entry did not move"

# The fresh sink renders its first block only after a while: a recorder wakes it.
awake=$(mktemp)
parec --raw --format=s16le --rate=48000 --channels=1 --latency-msec=10 -d tarpo_a.monitor \
    2>/dev/null | { head -c 2 >"$awake"; cat >/dev/null; } &
for _ in $(seq 50); do [ -s "$awake" ] && break; sleep 0.1; done
rm -f "$awake"
"$check" tarpo_a tarpo_a.monitor tarpo_b tarpo_b.monitor 4 "$before" || fail "the exchange"
kill %1 2>/dev/null

# A sink that goes away under a running stream.
module=$(pactl list short modules | awk '/sink_name=tarpo_b/ {print $1; exit}')
"$check" --vanish tarpo_b "pactl unload-module $module"
