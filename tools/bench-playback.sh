#!/usr/bin/env bash
# CPU of the player while a track plays and while it is idle, measured from
# outside the process under Xvfb (sum of every thread's run time from
# /proc/PID/task/*/schedstat, nanosecond resolution):
#   playing   the main window shown, one song of the bundled service playing
#             with its lyric line, clock and seek knob running
#   bare mpv  mpv --ao=null --no-video on the same link in the same run: the
#             floor that decoding alone costs
#   idle      the main window shown, nothing played
#   start     the time from the double-click to the player playing (the
#             host's own clock; loopback service, so mostly the player's own
#             cost of opening the link)
#   exit      the tray menu's exit command while a song plays: the process
#             must end on its own, with code 0, within a few seconds
# Each figure is the share of one core over the measuring window, median of
# several runs. Goals: playing <= 1.1 x bare mpv, idle 0.00-0.05 %.
# Usage: tools/bench-playback.sh [runs] [seconds]   (needs a build in build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMOR_BUILD_DIR:-$root/build}"
runs="${1:-3}"
secs="${2:-10}"
work="$(mktemp -d)"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

host="$build/bench/bench_playback_host"
[ -x "$host" ] || { echo "missing $host: build the target bench_playback_host" >&2; exit 1; }

display=:96
Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
export VELMOR_AUDIO_OUTPUT=null
sleep 1
"$build/musicd/velmor-musicd" --port 0 > "$work/musicd.out" &
pids+=($!)
for _ in $(seq 1 50); do [ -s "$work/musicd.out" ] && break; sleep 0.1; done
url="$(head -n1 "$work/musicd.out")"

# Nanoseconds every thread of a process has run so far.
cpu_ns() {
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'
}

# Share of one core, in percent, that process $1 uses over $secs seconds.
measure() {
    local c0 c1
    c0=$(cpu_ns "$1")
    sleep "$secs"
    c1=$(cpu_ns "$1")
    python3 -c "print('%.3f' % (100.0 * ($c1 - $c0) / 1e9 / $secs))"
}

# Waits until file $1 has a line starting with $2, for at most 20 s.
wait_for_line() {
    for _ in $(seq 1 200); do grep -q "^$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}

song=(100001 "夏日的约定" "晴川")
for i in $(seq 1 "$runs"); do
    "$host" --service "$url" --song "${song[@]}" > "$work/host.out" 2>/dev/null &
    hpid=$!
    wait_for_line "$work/host.out" LINK || { echo "run $i: the song did not start" >&2; exit 1; }
    link="$(awk '/^LINK/ {print $2}' "$work/host.out")"
    sleep 2 # past the start of playback
    playing=$(measure "$hpid")
    kill "$hpid"; wait "$hpid" 2>/dev/null || true

    mpv --ao=null --no-video --really-quiet --loop-file=inf "$link" >/dev/null 2>&1 &
    mpid=$!
    sleep 2
    bare=$(measure "$mpid")
    kill "$mpid"; wait "$mpid" 2>/dev/null || true

    "$host" --service "$url" > "$work/idle.out" 2>/dev/null &
    ipid=$!
    wait_for_line "$work/idle.out" IDLE
    sleep 2
    idle=$(measure "$ipid")
    kill "$ipid"; wait "$ipid" 2>/dev/null || true

    start_ms="$(awk '/^PLAYING/ {print $2}' "$work/host.out")"
    echo "$playing $bare $idle ${start_ms:-nan}" >> "$work/results"
    echo "run $i: playing ${playing} %, bare mpv ${bare} %, idle ${idle} %, double-click to playing ${start_ms:--} ms"
done
python3 - "$work/results" <<'PY'
import statistics, sys
rows = [[float(x) for x in l.split()] for l in open(sys.argv[1])]
play, bare, idle, start = (statistics.median(c) for c in zip(*rows))
ratio = play / bare if bare > 0 else float("nan")
print("median: playing %.3f %%, bare mpv %.3f %% (ratio %.2f x), idle %.3f %% of a core"
      % (play, bare, ratio, idle))
print("median: double-click to playing %.1f ms" % start)
PY

# Exit while playing: the host runs the exit command after 3 s.
start=$(date +%s.%N)
set +e
timeout 20 "$host" --service "$url" --song "${song[@]}" --close-after 3 >/dev/null 2>&1
code=$?
set -e
end=$(date +%s.%N)
python3 -c "print('exit: code $code after %.2f s (3 s of playing)' % ($end - $start))"
