#!/usr/bin/env bash
# Builds the .deb from a built tree with CPack and checks what is in it:
# every file (no more, no fewer), every dependency (each library the programs
# link, and libmpv, which the player opens at run time), the programs
# answering from the unpacked package, the desktop entry, the AppStream
# description, the icon sizes, and lintian's verdict.
#   check_deb.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

app_id=org.velmor.Velmor
sizes="16 24 32 48 64 128 256"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; exit 1; }
deb="$(ls "$work"/out/velmor_*.deb)"
echo "package: $(basename "$deb")"

# Every file, exactly.
libdir="$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")"
expected="$work/expected"
{
    for p in velmor velmor-cli velmor-musicd; do echo "./usr/bin/$p"; done
    echo "./usr/share/applications/$app_id.desktop"
    echo "./usr/share/metainfo/$app_id.metainfo.xml"
    echo "./usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    for s in $sizes; do echo "./usr/share/icons/hicolor/${s}x${s}/apps/$app_id.png"; done
    for p in velmor velmor-cli velmor-musicd; do echo "./usr/share/man/man1/$p.1.gz"; done
    echo "./usr/share/doc/velmor/copyright"
    echo "./usr/share/doc/velmor/README.md"
    # The service as a systemd user unit.
    echo "./usr/lib/systemd/user/velmor-musicd.service"
    # The window's font, cut at build time, with its licence.
    echo "./usr/share/velmor/fonts/VelmorSansCJK-Regular.otf"
    echo "./usr/share/velmor/fonts/OFL.txt"
    echo "./usr/share/doc/velmor/changelog.gz"
    # Qt's network library behind a module the programs open on first use.
    echo "./usr/$libdir/velmor/libvelmor-network.so"
} | sort >"$expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$work/actual"
if ! diff -u "$expected" "$work/actual"; then fail "the package's files differ from the list above"; fi
dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' | grep -v '^d' | grep -v ' root/root ' &&
    fail "files not owned by root"

# Every dependency.
dpkg-deb -x "$deb" "$work/root"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
names="$(echo "$depends" | tr ',' '\n' | sed -E 's/\(.*\)//; s/\|.*//; s/^ +//; s/ +$//')"
# Here-strings, not pipes: with pipefail, grep -q leaving at the first match
# can kill the writer of a pipe with SIGPIPE and fail a check that held.
has_dep() { grep -qx -- "$1" <<<"$names"; }
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
# The package holding a library of this architecture (not, say, its 32-bit
# twin).
owner_of() { dpkg -S "*/$multiarch/$1" 2>/dev/null | awk -F: '!/^diversion/ && !found++ {print $1}'; }
for p in bin/velmor bin/velmor-cli bin/velmor-musicd "$libdir/velmor/libvelmor-network.so"; do
    for soname in $(objdump -p "$work/root/usr/$p" | awk '$1 == "NEEDED" {print $2}'); do
        pkg="$(owner_of "$soname")"
        if [ -z "$pkg" ]; then fail "$p needs $soname, which no installed package holds"
        elif ! has_dep "$pkg"; then fail "$p needs $soname from $pkg, which Depends does not name"; fi
    done
done
# libmpv is opened by name and soname version, so no linker sees it.
mpv_version="$(sed -nE 's/.*kMpvSonameVersion = ([0-9]+);.*/\1/p' "$source/playback/libraries/MpvLibrary.cpp")"
mpv_pkg="$(owner_of "libmpv.so.$mpv_version")"
[ -n "$mpv_pkg" ] && has_dep "$mpv_pkg" || fail "Depends does not name ${mpv_pkg:-the package of libmpv.so.$mpv_version}"
# So are the lighter engine's libraries, by the soname of the development
# files the player was built with.
for lib in libavformat libavcodec libswresample libavutil libpulse-simple libmpg123 libsndfile; do
    soname="$(objdump -p "$(readlink -f "/usr/lib/$multiarch/$lib.so")" | awk '$1 == "SONAME" {print $2}')"
    pkg="$(owner_of "$soname")"
    [ -n "$pkg" ] && has_dep "$pkg" || fail "Depends does not name ${pkg:-the package of $lib}"
done
for pkg in qt6-qpa-plugins fonts-noto-cjk qt6-translations-l10n; do has_dep "$pkg" || fail "Depends does not name $pkg"; done
# Each one a real package of this release.
for pkg in $names; do
    dpkg-query -W "$pkg" >/dev/null 2>&1 || apt-cache show "$pkg" >/dev/null 2>&1 ||
        fail "Depends names $pkg, which is no package here"
done

# apt can install it here: every dependency resolves, from the archive or
# from what is installed.
apt-get install -s -q "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install -s"; }

# The unpacked programs answer, without a display and away from the build
# tree.
for p in velmor velmor-cli velmor-musicd; do
    out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/root/usr/bin/$p" --help 2>&1)" ||
        fail "$p --help ended with $?"
    grep -q -- "$p" <<<"$out" || fail "$p --help does not name the program"
done
# The programs link no network library: an idle player would map it and
# what it pulls in. The unpacked CLI searches the plain-http service without
# it, and finds the module beside it for an https one.
for p in velmor velmor-cli; do
    objdump -p "$work/root/usr/bin/$p" | grep -q 'NEEDED.*libQt6Network' &&
        fail "$p links Qt's network library"
done
"$build/musicd/velmor-musicd" --port 0 >"$work/musicd.out" 2>/dev/null &
musicd=$!
for _ in $(seq 1 50); do [ -s "$work/musicd.out" ] && break; sleep 0.1; done
service_url="$(head -n1 "$work/musicd.out")"
found="$(env -u DISPLAY LD_DEBUG=files LD_DEBUG_OUTPUT="$work/ld-plain" "$work/root/usr/bin/velmor-cli" \
    --service "$service_url" search starlight 2>&1 | head -n1)" || true
grep -qi starlight <<<"$found" || fail "the unpacked velmor-cli found nothing: $found"
cat "$work"/ld-plain.* | grep -q "libvelmor-network.so" &&
    fail "the unpacked velmor-cli opened the network module for a plain-http service"
# Nothing answers https there: the request fails, but only after the
# package's own module (not the build tree's) was opened for it.
env -u DISPLAY LD_DEBUG=files LD_DEBUG_OUTPUT="$work/ld-tls" "$work/root/usr/bin/velmor-cli" \
    --service "${service_url/http:/https:}" search starlight >/dev/null 2>&1 &&
    fail "the unpacked velmor-cli read a plain-http service as https"
kill "$musicd"; wait "$musicd" 2>/dev/null || true
cat "$work"/ld-tls.* | grep -q "file=$work/root/usr/$libdir/velmor/libvelmor-network.so" ||
    fail "the unpacked velmor-cli did not open the package's network module for https"
version="$(env -u DISPLAY "$work/root/usr/bin/velmor" --version)"
[ "$version" = "velmor $(dpkg-deb -f "$deb" Version)" ] || fail "velmor --version says '$version'"

# The desktop entry, the description, the icon sizes.
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop" ||
        fail "desktop-file-validate"
fi
grep -qx "Icon=$app_id" "$work/root/usr/share/applications/$app_id.desktop" || fail "desktop entry's Icon"
grep -qx "Exec=velmor %F" "$work/root/usr/share/applications/$app_id.desktop" || fail "desktop entry's Exec"
# A file manager offers the player for the audio files it plays.
for type in audio/mpeg audio/flac audio/ogg audio/mp4 audio/wav; do
    grep -q "^MimeType=.*$type;" "$work/root/usr/share/applications/$app_id.desktop" ||
        fail "desktop entry's MimeType lacks $type"
done
for s in $sizes; do
    png="$work/root/usr/share/icons/hicolor/${s}x${s}/apps/$app_id.png"
    file -b "$png" | grep -q "PNG image data, $s x $s, 8-bit/color RGBA" || fail "icon $s: $(file -b "$png")"
done
grep -q '<svg' "$work/root/usr/share/icons/hicolor/scalable/apps/$app_id.svg" || fail "the SVG icon"

# The packaged programs, and the libraries linked into them, are compiled
# with the distribution's hardening flags.
python3 - "$build/compile_commands.json" <<'PY' || fail "programs compiled without the hardening flags"
import json, re, sys
# The three programs, every library of theirs and the compiled-in resources.
packaged = re.compile(r"CMakeFiles/velmor[A-Za-z0-9_-]*\.dir/")
flags = ["-D_FORTIFY_SOURCE=2", "-fstack-protector-strong", "-Werror=format-security"]
bad = [e["file"] for e in json.load(open(sys.argv[1]))
       if packaged.search(e.get("output", e["command"]))
       and not all(f in e["command"].split() for f in flags)]
for f in bad[:5]:
    print("not hardened:", f, file=sys.stderr)
sys.exit(1 if bad else 0)
PY

# lintian: errors fail, and so does a hardening tag, but for one: lintian
# reports "no fortify functions" for a fortified program whose every libc
# call the compiler proved safe, so it needs no checked variant (velmor-cli
# is one); the compile flags checked above stand for it. Other warnings are
# shown.
if command -v lintian >/dev/null; then
    lintian --tag-display-limit 0 --display-info "$deb" >"$work/lintian.log" 2>&1 || true
    cat "$work/lintian.log"
    grep -q '^E:' "$work/lintian.log" && fail "lintian reports errors"
    grep -v 'hardening-no-fortify-functions' "$work/lintian.log" >"$work/lintian-hardening.log" || true
    grep -q '^[EWI]: .* hardening-' "$work/lintian-hardening.log" &&
        fail "lintian finds programs built without the hardening flags"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "the package is complete"
