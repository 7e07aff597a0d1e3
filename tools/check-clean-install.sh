#!/usr/bin/env bash
# Installs the .deb on a clean Debian 12 and uses the player there as a new
# user would: a minimal system is made with debootstrap in a folder, the
# package goes in with `apt-get install ./velmor_*.deb` (which must pull
# everything it needs by itself), then the installed programs answer, the
# installed service serves, the CLI searches it, and the installed player,
# shown on an Xvfb display of this machine, searches, plays a song from a
# double-click and exits from its close button. Then a new user with tagged
# songs in ~/Music starts the player as the desktop entry does, with no
# service running: the player starts its own, the window finds and plays a
# song of that folder with its picture, `velmor FILE` plays a file from elsewhere in the
# running player, and closing the player leaves no service behind.
# Screenshots of the playing windows are left beside the chroot.
#
# Not part of the test command: it downloads a few hundred packages and takes
# several minutes. Needs root, debootstrap, Xvfb, xdotool, ImageMagick and
# the encoders on this machine (scripts/setup-deps.sh test installs them).
# Usage: tools/check-clean-install.sh [path/to/velmor_*.deb] [chroot folder]
#        (defaults: a package made with CPack from build/; /var/tmp/velmor-clean)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMOR_BUILD_DIR:-$root/build}"
deb="${1:-}"
chroot_dir="${2:-/var/tmp/velmor-clean}"
display="${VELMOR_CLEAN_DISPLAY:-:93}"
mirror="${VELMOR_DEBIAN_MIRROR:-http://deb.debian.org/debian}"

[ "$(id -u)" = 0 ] || { echo "run as root (debootstrap and chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || apt-get install -y -q debootstrap >/dev/null
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "missing $tool: bash scripts/setup-deps.sh test" >&2; exit 1; }
done

if [ -z "$deb" ]; then
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/package" >/dev/null
    deb="$(ls "$build"/package/velmor_*.deb)"
fi

mounts=()
xvfb_pid=
cleanup() {
    # By process id only: the same program names may be running (or being
    # compiled) outside the chroot.
    for pidfile in velmor.pid musicd.pid listener.pid; do
        if [ -s "$chroot_dir/tmp/$pidfile" ]; then
            kill "$(cat "$chroot_dir/tmp/$pidfile")" 2>/dev/null || true
        fi
        rm -f "$chroot_dir/tmp/$pidfile"
    done
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
bind() {
    mkdir -p "$chroot_dir$2"
    mount "${@:3}" "$1" "$chroot_dir$2"
    mounts+=("$chroot_dir$2")
}
in_root() { chroot "$chroot_dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

if [ ! -x "$chroot_dir/usr/bin/apt-get" ]; then
    echo "== a minimal Debian 12 in $chroot_dir"
    debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" >"$chroot_dir.debootstrap.log" 2>&1 ||
        { tail "$chroot_dir.debootstrap.log" >&2; exit 1; }
fi
bind proc /proc -t proc
bind /dev /dev --bind
bind /dev/pts /dev/pts --bind
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"

echo "== apt-get install ./$(basename "$deb")"
cp "$deb" "$chroot_dir/tmp/velmor.deb"
in_root apt-get update -q >/dev/null
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /tmp/velmor.deb >"$chroot_dir.install.log" 2>&1 ||
    { tail -20 "$chroot_dir.install.log" >&2; exit 1; }
grep -E "newly installed" "$chroot_dir.install.log"

echo "== the installed programs"
for p in velmor velmor-cli velmor-musicd; do in_root "$p" --version; done
rm -f "$chroot_dir/tmp/musicd.out"
in_root sh -c 'velmor-musicd --port 0 >/tmp/musicd.out 2>/tmp/musicd.err & echo $! >/tmp/musicd.pid'
for _ in $(seq 50); do [ -s "$chroot_dir/tmp/musicd.out" ] && break; sleep 0.1; done
url="$(head -1 "$chroot_dir/tmp/musicd.out")"
echo "service: $url"
found="$(in_root velmor-cli --service "$url" search starlight | wc -l)"
echo "velmor-cli search starlight: $found lines"
[ "$found" -gt 0 ] || { echo "FAIL: the installed CLI found nothing" >&2; exit 1; }
# https goes through the installed network module (nothing answers it
# here, so the search itself fails).
opened="$(in_root env LD_DEBUG=files velmor-cli --service "${url/http:/https:}" search starlight 2>&1 || true)"
grep -q 'file=/usr/lib/[^ ]*velmor/libvelmor-network.so' <<<"$opened" ||
    { echo "FAIL: the installed CLI did not open its network module for https" >&2; exit 1; }

echo "== the installed player on $display"
Xvfb "$display" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
# A loaded machine can take seconds to bring the server up.
for _ in $(seq 200); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "FAIL: Xvfb on $display did not come up" >&2; exit 1; }
bind /tmp/.X11-unix /tmp/.X11-unix --bind
in_root sh -c "DISPLAY=$display VELMOR_AUDIO_OUTPUT=null velmor --new-instance --service $url \
    >/tmp/velmor.out 2>/tmp/velmor.err & echo \$! >/tmp/velmor.pid"
window=
for _ in $(seq 100); do
    window="$(xdotool search --onlyvisible --name 'Velmor' 2>/dev/null | head -1)" && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { cat "$chroot_dir/tmp/velmor.err" >&2; echo "FAIL: no window" >&2; exit 1; }
# Positions at 96 dpi: the search box, then the first result row.
playing=
for _ in 1 2 3 4 5; do
    xdotool windowfocus --sync "$window" mousemove --window "$window" 100 70 click 1
    xdotool key ctrl+a type --delay 20 starlight
    xdotool key Return
    sleep 1.5
    xdotool mousemove --window "$window" 200 128 click --repeat 2 1
    sleep 3
    title="$(xdotool getwindowname "$window")"
    case "$title" in 正在播放：*) playing=1; break ;; esac
done
sleep 3
import -window "$window" "$chroot_dir.playing.png"
echo "title: $title"
echo "screenshot: $chroot_dir.playing.png"
[ -n "$playing" ] || { echo "FAIL: nothing played" >&2; exit 1; }
# Which packaged playback libraries the player opened to play it (none for
# a WAV played to the null output: the player reads those itself), and that
# the plain-http service needed no network module.
opened="$(grep -oE 'lib(avcodec|mpv|pulse-simple|mpg123|sndfile|velmor-network)\.so[.0-9]*' \
    "/proc/$(cat "$chroot_dir/tmp/velmor.pid")/maps" | sort -u | tr '\n' ' ' || true)"
echo "libraries opened: $opened"
grep -q libvelmor-network <<<"$opened" && { echo "FAIL: the network module was opened for plain http" >&2; exit 1; }

# The close button (no notification area on this display) ends the program.
xdotool mousemove --window "$window" 957 20 click 1
for _ in $(seq 150); do kill -0 "$(cat "$chroot_dir/tmp/velmor.pid")" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$(cat "$chroot_dir/tmp/velmor.pid")" 2>/dev/null; then
    echo "FAIL: the player did not exit from its close button" >&2
    exit 1
fi

echo "== a new user's player from the menu, on ~/Music"
in_root sh -c 'id listener >/dev/null 2>&1 || useradd -m listener'
uid="$(in_root id -u listener)"
music="$chroot_dir/home/listener/Music"
rm -rf "$music" "$chroot_dir/tmp/run-listener"
mkdir -p "$music/Lan Shore/Rivers" "$chroot_dir/tmp/run-listener"
# Tagged songs in several formats, made here (the new system has no
# encoders), one with a lyric beside it.
song() { # FILE TITLE ARTIST HERTZ
    ffmpeg -v error -f lavfi -i "sine=frequency=$4:duration=4" -metadata "title=$2" \
        -metadata "artist=$3" -metadata "album=Rivers" -y "$music/Lan Shore/Rivers/$1"
}
song "01 Blue River.mp3" "Blue River" "Lan Shore" 440
song "02 Green Hill.flac" "Green Hill" "Lan Shore" 523
song "03 Night Rain.ogg" "Night Rain" "Lan Shore" 587
printf '[00:00.50]Blue water line one\n[00:02.00]Blue water line two\n' \
    >"$music/Lan Shore/Rivers/01 Blue River.lrc"
# The album's picture: one colour, so the screenshot shows whether it came.
convert -size 300x300 xc:'#c83c32' "$music/Lan Shore/Rivers/cover.jpg"
chown -R "$uid:$uid" "$chroot_dir/home/listener" "$chroot_dir/tmp/run-listener"
chmod 700 "$chroot_dir/tmp/run-listener"
# As the desktop starts it: the entry's Exec, in a login session's
# environment, no --service and nothing serving.
chroot --userspec=listener:listener "$chroot_dir" env -i PATH=/usr/bin:/bin \
    HOME=/home/listener USER=listener LANG=C.UTF-8 XDG_RUNTIME_DIR=/tmp/run-listener \
    DISPLAY="$display" VELMOR_AUDIO_OUTPUT=null \
    sh -c "$(sed -n 's/^Exec=//p' "$chroot_dir/usr/share/applications/org.velmor.Velmor.desktop" |
        sed 's/ *%[fFuU]//') >/tmp/run-listener/velmor.err 2>&1 & echo \$! >/tmp/listener.pid"
window=
for _ in $(seq 100); do
    window="$(xdotool search --onlyvisible --name 'Velmor' 2>/dev/null | head -1)" && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { cat "$chroot_dir/tmp/run-listener/velmor.err" >&2; echo "FAIL: no window for the new user" >&2; exit 1; }
for _ in $(seq 100); do
    [ -s "$chroot_dir/tmp/run-listener/velmor/service.json" ] && break
    sleep 0.1
done
echo "the player's own service: $(cat "$chroot_dir/tmp/run-listener/velmor/service.json" 2>/dev/null)"
service_pid="$(pgrep -u "$uid" -x velmor-musicd || true)"
[ -n "$service_pid" ] || { cat "$chroot_dir/tmp/run-listener/velmor.err" >&2; echo "FAIL: the player started no service" >&2; exit 1; }
playing=
for _ in 1 2 3 4 5; do
    xdotool windowfocus --sync "$window" mousemove --window "$window" 100 70 click 1
    xdotool key ctrl+a type --delay 20 "Blue River"
    xdotool key Return
    sleep 1.5
    xdotool mousemove --window "$window" 200 128 click --repeat 2 1
    sleep 3
    title="$(xdotool getwindowname "$window")"
    case "$title" in 正在播放：*Blue\ River*) playing=1; break ;; esac
done
sleep 2
import -window "$window" "$chroot_dir.own-service.png"
echo "title: $title"
# The middle of the singer picture's frame.
picture="$(convert "$chroot_dir.own-service.png" -format '%[fx:int(255*p{738,124}.r)],%[fx:int(255*p{738,124}.g)]' info:)"
echo "singer picture's middle (red,green): $picture"
echo "screenshot: $chroot_dir.own-service.png"
[ -n "$playing" ] || { cat "$chroot_dir/tmp/run-listener/velmor.err" >&2; echo "FAIL: the new user's song did not play" >&2; exit 1; }
[ "${picture%,*}" -ge 150 ] && [ "${picture#*,}" -le 100 ] ||
    { echo "FAIL: the song's picture is not shown" >&2; exit 1; }
# A file outside the music folder, opened as a file manager opens it: a
# second `velmor FILE` hands it to the running player, which plays it.
downloads="$chroot_dir/home/listener/Downloads"
mkdir -p "$downloads"
ffmpeg -v error -f lavfi -i "sine=frequency=659:duration=4" -metadata "title=Harbour Lights" \
    -metadata "artist=Mira Vale" -y "$downloads/harbour.ogg"
chown -R "$uid:$uid" "$downloads"
chroot --userspec=listener:listener "$chroot_dir" env -i PATH=/usr/bin:/bin \
    HOME=/home/listener USER=listener LANG=C.UTF-8 XDG_RUNTIME_DIR=/tmp/run-listener \
    DISPLAY="$display" VELMOR_AUDIO_OUTPUT=null velmor /home/listener/Downloads/harbour.ogg ||
    { echo "FAIL: velmor FILE did not hand the file to the running player" >&2; exit 1; }
opened=
for _ in $(seq 100); do
    title="$(xdotool getwindowname "$window")"
    case "$title" in 正在播放：Harbour\ Lights--Mira\ Vale) opened=1; break ;; esac
    sleep 0.1
done
echo "title after velmor FILE: $title"
[ -n "$opened" ] || { cat "$chroot_dir/tmp/run-listener/velmor.err" >&2; echo "FAIL: velmor FILE did not play the file" >&2; exit 1; }
xdotool mousemove --window "$window" 957 20 click 1
for _ in $(seq 150); do kill -0 "$(cat "$chroot_dir/tmp/listener.pid")" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$(cat "$chroot_dir/tmp/listener.pid")" 2>/dev/null; then
    echo "FAIL: the new user's player did not exit from its close button" >&2
    exit 1
fi
for _ in $(seq 50); do kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$service_pid" 2>/dev/null; then
    kill "$service_pid"
    echo "FAIL: the player left its service behind" >&2
    exit 1
fi
[ ! -e "$chroot_dir/tmp/run-listener/velmor/service.json" ] || { echo "FAIL: the service's announcement stayed" >&2; exit 1; }
echo "PASS: installed, searched, played and closed on a clean Debian 12; a new user's player brought its own service, opened a file and took the service away"
