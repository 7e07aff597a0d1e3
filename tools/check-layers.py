#!/usr/bin/env python3
"""Checks that the product's folders include only downward.

Each folder below is one library; it may include its own headers and those
of the folders it sits on (LAYERS, followed through), never one above it or
beside it. CMake links the libraries by the same table, so a wrong include
usually fails to link as well; this check also catches the header-only
ones. It also keeps the folders and files small enough to read: at most
MAX_SOURCES .cpp files directly in a folder, at most MAX_LINES lines in a
product source file.

Run from anywhere: tools/check-layers.py [ROOT]. Prints every breach and
exits 1 when there is one.
"""
import os
import re
import sys

# Folder: the folders it is built on. Folders on one level do not include
# each other:
#   app -> {desktop, window} -> {controls, shell, playback, downloads, service}
#       -> {player, gfx, net, files}
# The desktop pieces sit beside the window: both are handed the player's
# state by the program, and neither reads the other.
LAYERS = {
    "net": [],
    "files": [],
    "ownservice": ["net", "files"],
    "gfx": [],
    "player": [],
    "service": ["net", "ownservice"],
    "downloads": ["net", "files"],
    "playback/libraries": [],
    "playback/sources": ["net"],
    "playback/output": ["playback/libraries"],
    "playback/decoders": ["playback/sources", "playback/libraries"],
    "playback/engines": ["playback/decoders", "playback/output"],
    "playback": ["playback/engines"],
    "controls": [],
    "controls/scrollbar": ["controls", "gfx"],
    "controls/listbox": ["controls/scrollbar", "player"],
    "controls/image": ["controls"],
    "shell": [],
    "window/rules": [],
    "window/results": ["controls/listbox", "service"],
    "window": ["window/results", "window/rules", "controls/image", "controls/listbox", "shell",
               "playback", "downloads", "service", "player", "gfx", "net"],
    "desktop": ["downloads", "player", "files"],
    "app": ["desktop", "window"],
    # The two other programs.
    "cli": ["service"],
    "subsonic": ["net"],
    "musicd/http": [],
    "musicd/search": [],
    "musicd/library": ["musicd/search"],
    "musicd": ["ownservice", "subsonic", "musicd/http", "musicd/library"],
}

MAX_SOURCES = 25
MAX_LINES = 800

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def below(folder, seen=None):
    """Every folder `folder` may include, itself among them."""
    if seen is None:
        seen = set()
    if folder in seen:
        return seen
    seen.add(folder)
    for lower in LAYERS[folder]:
        below(lower, seen)
    return seen


def folder_of(path):
    """The deepest folder of LAYERS holding `path`, or None."""
    parts = path.split("/")[:-1]
    while parts:
        name = "/".join(parts)
        if name in LAYERS:
            return name
        parts.pop()
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    breaches = []
    for folder in LAYERS:
        top = os.path.join(root, folder)
        if not os.path.isdir(top):
            breaches.append(f"{folder}/: the folder is missing")
            continue
        names = sorted(os.listdir(top))
        sources = [n for n in names if n.endswith(".cpp")]
        if len(sources) > MAX_SOURCES:
            breaches.append(f"{folder}/: {len(sources)} .cpp files, more than {MAX_SOURCES}")
        allowed = below(folder)
        for name in names:
            if not name.endswith((".cpp", ".h")):
                continue
            path = f"{folder}/{name}"
            with open(os.path.join(root, path), encoding="utf-8") as f:
                lines = f.readlines()
            if len(lines) > MAX_LINES:
                breaches.append(f"{path}: {len(lines)} lines, more than {MAX_LINES}")
            for number, line in enumerate(lines, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1)
                owner = folder_of(target)
                if owner is None:
                    if "/" in target:
                        breaches.append(f"{path}:{number}: includes {target}, "
                                        "which is in no product folder")
                    continue
                if owner not in allowed:
                    direction = "upward" if folder in below(owner) else "sideways"
                    breaches.append(f"{path}:{number}: includes {target} "
                                    f"({direction}: {folder} does not sit on {owner})")
    for b in breaches:
        print(b)
    if breaches:
        print(f"{len(breaches)} breaches of the layers")
        return 1
    print(f"layers kept: {len(LAYERS)} folders include only downward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
