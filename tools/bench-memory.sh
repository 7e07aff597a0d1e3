#!/usr/bin/env bash
# Memory of the player, idle and playing, beside bare mpv in the same run,
# measured from outside the process under Xvfb (the real `velmor` program,
# driven through its window with xdotool as a user would):
#   idle      5 s after start, the main window shown, nothing played
#   playing   10 s after a double-click on the first result of a search
#   bare mpv  `mpv --no-config --no-video --ao=null`: idle (--idle) 5 s after
#             start, and playing the same song's link 10 s after start
#   growth    one player, many searches and plays one after another (a faster
#             equivalent of an hour of use): resident set after the first
#             play, the largest seen, and after the last play
# Figures come from /proc/PID/smaps_rollup, in MiB: RSS (resident), PSS
# (resident with shared pages divided among the processes sharing them),
# USS (private to the process) and anonymous (heap, stacks, mmap'd
# anonymous memory). One process runs at a time, so no copy of a player
# shares pages with another; but on a machine where other Qt programs or
# players run (tests, other builds), they share library pages and lower the
# PSS. "alone" is the PSS as if none of them ran: each resident page divided
# only among the processes that map neither Qt GUI nor libmpv (it needs
# root to read page frame numbers; "-" otherwise). Medians of several
# rounds; the audio output is null for both players. The player is measured
# once per playback engine named in VELMOR_BENCH_ENGINES (default "ffmpeg
# mpv"); the growth run uses the first. The player starts with
# a configuration folder of its own, so a playlist saved by an earlier run
# on the machine (whose titles are then drawn) does not change the idle
# figure, and the bench leaves the user's settings alone.
# Goals: idle RSS < 37 and PSS < 29.5; playing RSS <= bare mpv's and
# PSS < 33.7; growth: last within 5 MiB of the first play.
# Usage: tools/bench-memory.sh [rounds] [growth plays]   (defaults 3, 40; 0
#        plays skips the growth run; needs a build in build/). VELMOR_PLAYER
#        names another player program to measure (its fonts folder beside
#        it), e.g. a copy of an older build. VELMOR_BENCH_MAPS=N lists the N
#        largest mappings of the last round's player, idle and playing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMOR_BUILD_DIR:-$root/build}"
rounds="${1:-3}"
plays="${2:-40}"
player="${VELMOR_PLAYER:-$build/app/velmor}"
cli="$build/cli/velmor-cli"
[ -x "$player" ] || { echo "missing $player: build the player first" >&2; exit 1; }
# A skin file beside the program is taken instead of the one built in (for
# trying a changed skin); a forgotten one would change what is measured.
if [ -e "$(dirname "$player")/tessaryn.she" ]; then
    echo "$(dirname "$player")/tessaryn.she overrides the built-in skin: remove it first" >&2
    exit 1
fi
work="$(mktemp -d)"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

display=:94
Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
export VELMOR_AUDIO_OUTPUT=null
sleep 1
"$build/musicd/velmor-musicd" --port 0 > "$work/musicd.out" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 50); do [ -s "$work/musicd.out" ] && break; sleep 0.1; done
url="$(head -n1 "$work/musicd.out")"

# The song the player plays (first result of the query) and its link, which
# bare mpv plays.
query=starlight
IFS=$'\t' read -r song_id song_title song_singer _ < <("$cli" --service "$url" search "$query" 2>/dev/null | head -n1)
link="$("$cli" --service "$url" link "$song_id" "$song_singer" "$song_title")"

cat > "$work/pss_alone.py" <<'PY'
# PSS of process argv[1], in MiB, counting as sharers only the processes
# that map neither Qt GUI nor libmpv; "-" without access to frame numbers.
import os, struct, sys

def mappings(pid):
    try:
        with open(f"/proc/{pid}/maps") as f:
            for line in f:
                p = line.split()
                a, b = (int(x, 16) for x in p[0].split("-"))
                yield a, b, p[5] if len(p) > 5 else ""
    except OSError:
        return

def frames(pid):
    found = set()
    try:
        pagemap = open(f"/proc/{pid}/pagemap", "rb")
    except OSError:
        return found
    with pagemap:
        for a, b, name in mappings(pid):
            if name == "[vsyscall]":
                continue
            try:
                pagemap.seek(a // 4096 * 8)
                data = pagemap.read((b - a) // 4096 * 8)
            except OSError:
                continue
            for (entry,) in struct.iter_unpack("<Q", data):
                if entry >> 63:
                    found.add(entry & ((1 << 55) - 1))
    return found

target = int(sys.argv[1])
mine = frames(target)
if not mine or not any(mine):
    print("-")
    sys.exit()
sharers = {}
for entry in os.listdir("/proc"):
    if not entry.isdigit() or int(entry) == target:
        continue
    names = [n for _, _, n in mappings(int(entry))]
    if any("libQt6Gui" in n or "libmpv" in n for n in names):
        continue
    for frame in frames(int(entry)) & mine:
        sharers[frame] = sharers.get(frame, 0) + 1
print("%.1f" % (sum(1.0 / (1 + sharers.get(f, 0)) for f in mine) * 4096 / 1048576))
PY

# "RSS PSS USS anonymous alone" of a process, in MiB.
memory() {
    local alone
    alone=$(python3 "$work/pss_alone.py" "$1")
    awk -v alone="$alone" '/^Rss:/ {r=$2} /^Pss:/ {p=$2} /^Private_(Clean|Dirty):/ {u+=$2} /^Anonymous:/ {a=$2}
         END {printf "%.1f %.1f %.1f %.1f %s\n", r/1024, p/1024, u/1024, a/1024, alone}' /proc/"$1"/smaps_rollup
}

# The player's main window (frameless, so its own coordinates are the
# design's pixels), waited for at most 20 s.
window_of() {
    timeout 20 xdotool search --sync --onlyvisible --pid "$1" --class velmor 2>/dev/null | head -n1
}

# Searches $3 in the window $2 of player $1 and double-clicks result row $4
# (1 = first). Returns when the window's title says a song plays (whatever
# engine or decoder plays it).
search_and_play() {
    local pid=$1 win=$2 words=$3 row=$4
    xdotool mousemove --window "$win" 200 70 click --repeat 3 1
    xdotool type --delay 5 "$words"
    xdotool key Return
    sleep 1.5 # the first result page
    # Rows are 24 px high under a 25 px header; the list starts at y 96.
    xdotool mousemove --window "$win" 120 $((96 + 25 + 24 * row - 12)) click --repeat 2 --delay 60 1
    for _ in $(seq 1 100); do
        case "$(xdotool getwindowname "$win" 2>/dev/null)" in 正在播放：*) return 0 ;; esac
        [ -d /proc/"$pid" ] || break
        sleep 0.1
    done
    echo "the player did not start playing" >&2
    return 1
}

# The largest mappings of process $1 (resident KiB, PSS KiB, what), when
# VELMOR_BENCH_MAPS names how many: where the memory goes.
top_mappings() {
    [ "${VELMOR_BENCH_MAPS:-0}" -gt 0 ] || return 0
    echo "$2, largest mappings (resident KiB, PSS KiB):"
    # sort meets a closed pipe once head has its lines: not a failure.
    awk '/^[0-9a-f]+-[0-9a-f]+ / {n = NF >= 6 ? $6 : "[anonymous]"}
         /^Rss:/ {r[n] += $2} /^Pss:/ {p[n] += $2}
         END {for (k in r) printf "%8d %8d  %s\n", r[k], p[k], k}' /proc/"$1"/smaps |
        sort -rn | head -n "$VELMOR_BENCH_MAPS" | sed "s/^/    /" || true
}

: > "$work/results"
engines="${VELMOR_BENCH_ENGINES:-ffmpeg mpv}"
for i in $(seq 1 "$rounds"); do
    for engine in $engines; do
        XDG_CONFIG_HOME="$work/config" VELMOR_PLAYBACK_ENGINE=$engine \
            "$player" --new-instance --service "$url" >/dev/null 2>&1 &
        ppid=$!
        win=$(window_of "$ppid")
        sleep 5
        idle=$(memory "$ppid")
        [ "$i" -lt "$rounds" ] || top_mappings "$ppid" "player ($engine) idle"
        search_and_play "$ppid" "$win" "$query" 1
        sleep 10
        playing=$(memory "$ppid")
        [ "$i" -lt "$rounds" ] || top_mappings "$ppid" "player ($engine) playing"
        kill "$ppid"; wait "$ppid" 2>/dev/null || true
        echo "player($engine) $idle $playing" >> "$work/results"
        echo "round $i: player ($engine) idle [$idle] playing [$playing]"
    done

    mpv --no-config --idle=yes --no-video --ao=null --really-quiet >/dev/null 2>&1 &
    mpid=$!
    sleep 5
    mpv_idle=$(memory "$mpid")
    kill "$mpid"; wait "$mpid" 2>/dev/null || true

    mpv --no-config --no-video --ao=null --really-quiet --loop-file=inf "$link" >/dev/null 2>&1 &
    mpid=$!
    sleep 10
    mpv_playing=$(memory "$mpid")
    kill "$mpid"; wait "$mpid" 2>/dev/null || true

    echo "bare-mpv $mpv_idle $mpv_playing" >> "$work/results"
    echo "round $i: mpv idle [$mpv_idle] playing [$mpv_playing]"
done

[ "$rounds" -gt 0 ] && python3 - "$work/results" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    name, *values = line.split()
    rows.setdefault(name, []).append([float("nan") if x == "-" else float(x) for x in values])
med = {name: [statistics.median(c) for c in zip(*r)] for name, r in rows.items()}
print("median of %d rounds, MiB          RSS    PSS    USS   anon  alone" % len(rows["bare-mpv"]))
for name, m in med.items():
    for k, what in enumerate(["idle", "playing"]):
        print("%-16s %-10s %6.1f %6.1f %6.1f %6.1f %6.1f" % ((name, what) + tuple(m[5 * k:5 * k + 5])))
# The PSS goals are judged on "alone" where it could be measured.
pss = lambda m, k: m[5 * k + 4] if m[5 * k + 4] == m[5 * k + 4] else m[5 * k + 1]
mpv_rss = med["bare-mpv"][5]
ok = lambda b: "met" if b else "NOT met"
for name, m in med.items():
    if name == "bare-mpv":
        continue
    print("%s: goal idle RSS < 37: %s; idle PSS < 29.5: %s" % (name, ok(m[0] < 37), ok(pss(m, 0) < 29.5)))
    print("%s: goal playing RSS <= bare mpv (%.1f): %s; playing PSS < 33.7: %s"
          % (name, mpv_rss, ok(m[5] <= mpv_rss), ok(pss(m, 1) < 33.7)))
PY

[ "$plays" -gt 0 ] || exit 0
# Growth: one player, a search and a play every few seconds, through a
# rotation of queries and result rows.
words=(starlight golden summer midnight neon velvet rain dreams echoes shadows)
XDG_CONFIG_HOME="$work/config" VELMOR_PLAYBACK_ENGINE="${engines%% *}" \
    "$player" --new-instance --service "$url" >/dev/null 2>&1 &
ppid=$!
pids+=($ppid)
win=$(window_of "$ppid")
sleep 2
: > "$work/growth"
for n in $(seq 1 "$plays"); do
    search_and_play "$ppid" "$win" "${words[$(((n - 1) % ${#words[@]}))]}" $(((n - 1) % 5 + 1))
    sleep 3
    memory "$ppid" >> "$work/growth"
done
python3 - "$work/growth" "$plays" <<'PY'
import sys
rows = [[float(x) for x in l.split()[:4]] for l in open(sys.argv[1])]
for k, name in ((0, "RSS"), (3, "anonymous")):
    v = [r[k] for r in rows]
    print("growth over %s plays: %s first play %.1f, largest %.1f, last %.1f MiB (%+.1f)"
          % (sys.argv[2], name, v[0], max(v), v[-1], v[-1] - v[0]))
print("goal: RSS after the last play within 5 MiB of the first")
PY
