#!/usr/bin/env bash
# Start-up, memory and idle CPU of the player, measured from outside the
# process under Xvfb, median of several runs:
#   start-up   launch until the main window is mapped (X MapNotify)
#   memory     resident set 5 s after start
#   idle CPU   share of one core over 10 s with the window shown, nothing playing
# each with a settings file of its own holding a saved playlist of 0, 200
# and 32,768 items (the most the settings accept) and with no settings file
# at all; the starts take turns, so load on the machine falls on all alike.
# Usage: tools/bench-startup.sh [runs]   (needs a build in build/)
#        VELMOR_BENCH_ARGS=--new-instance tools/bench-startup.sh   (without the socket)
#        VELMOR_BENCH_PLAYLISTS="none 200" tools/bench-startup.sh  (which starts)
#        VELMOR_BENCH_PLAYERS="/old/velmor /new/velmor" tools/bench-startup.sh
#            (builds side by side, their starts taking turns)
#        VELMOR_BENCH_IDLE_SECONDS=2 tools/bench-startup.sh  (a shorter idle CPU window)
#        VELMOR_BENCH_SERVICE=own tools/bench-startup.sh
#            (no --service: the players find or start this user's own service,
#            the build's velmor-musicd on PATH, as a start from the menu does)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMOR_BUILD_DIR:-$root/build}"
runs="${1:-5}"
playlists="${VELMOR_BENCH_PLAYLISTS:-none 0 200 32768}"
players="${VELMOR_BENCH_PLAYERS:-$build/app/velmor}"
idle_seconds="${VELMOR_BENCH_IDLE_SECONDS:-10}"
work="$(mktemp -d)"
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

# The map watcher: a tiny X client that reports when a window of a given
# class is mapped, with CLOCK_MONOTONIC times.
watch_src="${VELMOR_MAPWATCH_SRC:-$root/../shared/tools/mapwatch.c}"
dpkg-query -W -f='${Status}' libx11-dev 2>/dev/null | grep -q "ok installed" ||
    apt-get install -y -q --no-install-recommends libx11-dev >/dev/null
gcc -O2 -o "$work/mapwatch" "$watch_src" -lX11

# VELMOR_BENCH_DISPLAY picks another display number when :97 is taken.
display=":${VELMOR_BENCH_DISPLAY:-97}"
Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
export DISPLAY="$display"
sleep 1
"$build/musicd/velmor-musicd" --port 0 > "$work/musicd.out" &
sleep 0.5
url="$(head -n1 "$work/musicd.out")"

# A runtime folder of its own: each start claims the one-player socket as a
# user's start does, and no player the user runs takes the start over.
# VELMOR_BENCH_ARGS adds player arguments (e.g. --new-instance).
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
service_args=(--service "$url")
if [ "${VELMOR_BENCH_SERVICE:-}" = own ]; then
    service_args=()
    export PATH="$build/musicd:$PATH"
    export XDG_CACHE_HOME="$work/cache"
fi

# One configuration folder per start kind: "none" has no settings file,
# a number a file with a saved playlist of that many catalogue-like items,
# the last of them playing.
for n in $playlists; do
    mkdir -p "$work/config-$n/velmor"
    [ "$n" = none ] && continue
    python3 - "$n" > "$work/config-$n/velmor/settings.json" <<'PY'
import json, sys
n = int(sys.argv[1])
items = [{"title": "晴川歌曲 %d" % i, "singer": "歌手 %d" % (i % 97), "songId": str(100001 + i)}
         for i in range(n)]
print(json.dumps({"version": 1, "volume": 75, "playMode": "listLoop", "autoFit": False,
                  "autoTick": False, "downloadFolder": "", "playlist": items,
                  "playing": n - 1}, ensure_ascii=False, indent=4))
PY
done

hz=$(getconf CLK_TCK)
for i in $(seq 1 "$runs"); do
for player in $players; do
for n in $playlists; do
    export XDG_CONFIG_HOME="$work/config-$n"
    label="$(basename "$player")/$n"
    "$work/mapwatch" velmor 20 > "$work/map.out" 2>/dev/null &
    watcher=$!
    until grep -q READY "$work/map.out" 2>/dev/null; do sleep 0.01; done
    python3 -c 'import os,sys,time; print("%.1f" % (time.clock_gettime(time.CLOCK_MONOTONIC)*1000), flush=True); os.execv(sys.argv[1], sys.argv[1:])' \
        "$player" ${VELMOR_BENCH_ARGS:-} "${service_args[@]}" > "$work/launch.out" 2>"$work/player.err" &
    pid=$!
    wait "$watcher" || true
    t0=$(head -n1 "$work/launch.out")
    t1=$(awk '/^MAP/ {print $2}' "$work/map.out")
    startup=$(python3 -c "print('%.1f' % ($t1 - $t0))" 2>/dev/null || echo NA)
    sleep 5
    rss=$(awk '/VmRSS/ {printf "%.1f", $2/1024}' /proc/$pid/status)
    c0=$(awk '{print $14+$15}' /proc/$pid/stat)
    sleep "$idle_seconds"
    c1=$(awk '{print $14+$15}' /proc/$pid/stat)
    idle=$(python3 -c "print('%.3f' % (100.0*($c1-$c0)/$hz/$idle_seconds))")
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    # A settings file the player refused would measure the first-run state.
    if grep -q "settings file" "$work/player.err"; then
        echo "the player refused the $n-item settings file:" >&2
        cat "$work/player.err" >&2
        exit 1
    fi
    echo "$label $startup $rss $idle" >> "$work/results"
    echo "run $i, $label items: start-up ${startup} ms, memory ${rss} MiB, idle CPU ${idle} %"
done
done
done
labels=$(for player in $players; do for n in $playlists; do echo "$(basename "$player")/$n"; done; done)
python3 - "$work/results" $labels <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
def med(values):
    v = [float(x) for x in values if x != "NA"]
    return statistics.median(v) if v else float("nan")
for n in sys.argv[2:]:
    mine = [r[1:] for r in rows if r[0] == n]
    cols = list(zip(*mine))
    print("median, %s saved items: start-up %.1f ms, memory %.1f MiB, idle CPU %.3f %% of a core"
          % (n, med(cols[0]), med(cols[1]), med(cols[2])))
PY
