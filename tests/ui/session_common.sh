# Sourced by the scripts that run the program under Xvfb, after their arguments are taken:
#
#   . "$(dirname "$0")/session_common.sh"
#   need_tools xvfb-run espeak-ng   # exits 77 (CTest's skip code) when one is missing
#   enter_temp NAME                 # a fresh working directory, removed at exit (kept with KEEP_TMP)
#   loop_entries "$cli"             # sets loop_in and loop_out, the loop device's list entries
#
# It also points the sanitizers at the suppressions for the system libraries (Qt, the sound
# libraries) that are not ours to report, and sets `here` to the tests' folder.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/system_libraries.supp:print_suppressions=0"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$here/qt_threads.supp"

need_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done
}

enter_temp() {
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/tarpo-$1.XXXXXX") || exit 1
    [ -n "${KEEP_TMP:-}" ] || trap 'rm -rf "$tmp"' EXIT
    cd "$tmp" || exit 1
}

loop_entries() {
    local devices
    devices=$("$1" devices)
    loop_in=$(printf '%s\n' "$devices" | awk '/SDR Loop In Device/ { print $1; exit }')
    loop_out=$(printf '%s\n' "$devices" | awk '/SDR Loop Out Device/ { print $1; exit }')
    if [ -z "$loop_in" ] || [ -z "$loop_out" ]; then
        echo "FAIL: the loop library is not found beside tarpo-cli"
        exit 1
    fi
}
