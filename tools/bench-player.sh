#!/usr/bin/env bash
# CPU of the player while a track plays, measured from outside the process
# (user + system time of the whole process, median of several runs), beside
# bare mpv playing the same loopback link:
#   player         bench_player_cpu playing the link (MediaPlayer alone)
#   player+clock   the same with the main window's 1 ms display clock imitated
#   bare 1ms timer the same 1 ms timer asking the player nothing (the timer's
#                  own wakeups, which belong to the window, not the player)
#   bare mpv       mpv --no-config --ao=null --no-video --length=SECONDS
# Figures are the share of one core over the playing time.
# Usage: tools/bench-player.sh [runs] [seconds] [url]
#   Without a url a 44.1 kHz stereo WAV is generated and served on 127.0.0.1.
#   Needs bench_player_cpu built in $VELMOR_BUILD_DIR (default build/).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMOR_BUILD_DIR:-$root/build}"
runs="${1:-5}"
seconds="${2:-10}"
url="${3:-}"
bench="$build/bench/bench_player_cpu"
[ -x "$bench" ] || { echo "build bench_player_cpu first ($bench)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

if [ -z "$url" ]; then
    python3 - "$work/track.wav" $((seconds + 10)) <<'EOF'
import math, struct, sys
rate, secs = 44100, int(sys.argv[2])
frame = bytearray()
for i in range(rate):  # one second of a two-note chord, repeated
    v = int(5000 * (math.sin(2 * math.pi * 220 * i / rate) + math.sin(2 * math.pi * 277 * i / rate)))
    frame += struct.pack('<hh', v, v)
data = bytes(frame) * secs
with open(sys.argv[1], 'wb') as f:
    f.write(b'RIFF' + struct.pack('<I', 36 + len(data)) + b'WAVEfmt ' +
            struct.pack('<IHHIIHH', 16, 1, 2, rate, rate * 4, 4, 16) +
            b'data' + struct.pack('<I', len(data)) + data)
EOF
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    (cd "$work" && exec python3 -m http.server "$port" --bind 127.0.0.1 >/dev/null 2>&1) &
    until curl -sfo /dev/null "http://127.0.0.1:$port/track.wav" -r 0-0; do sleep 0.1; done
    url="http://127.0.0.1:$port/track.wav"
fi

# cpu_percent CMD...: runs CMD, prints its user+system CPU as % of one core
# over the playing time.
cpu_percent() {
    /usr/bin/time -f "%U %S" -o "$work/time.out" "$@" >/dev/null 2>&1 || true
    awk -v s="$seconds" '{ printf "%.2f\n", ($1 + $2) / s * 100 }' "$work/time.out"
}
median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

: > "$work/player"; : > "$work/clock"; : > "$work/timer"; : > "$work/mpv"
for _ in $(seq 1 "$runs"); do
    VELMOR_AUDIO_OUTPUT=null cpu_percent "$bench" "$url" "$seconds" >> "$work/player"
    VELMOR_AUDIO_OUTPUT=null cpu_percent "$bench" "$url" "$seconds" --clock >> "$work/clock"
    VELMOR_AUDIO_OUTPUT=null cpu_percent "$bench" "$url" "$seconds" --bare-clock >> "$work/timer"
    cpu_percent mpv --no-config --really-quiet --ao=null --no-video --length="$seconds" "$url" \
        >> "$work/mpv"
done

echo "link: $url, $seconds s, median of $runs runs (CPU % of one core)"
printf "%-14s %s\n" "player" "$(median < "$work/player")"
printf "%-14s %s\n" "player+clock" "$(median < "$work/clock")"
printf "%-14s %s\n" "bare 1ms timer" "$(median < "$work/timer")"
printf "%-14s %s\n" "bare mpv" "$(median < "$work/mpv")"
