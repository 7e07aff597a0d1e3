#!/usr/bin/env python3
"""velmor-musicd and mpd side by side on generated libraries of 10k to 1M tracks.

For each size the library is generated (or reused) by build/bench/gen_library,
read once so both services scan a warm page cache, then each service in turn:

  first scan      time from start to the end of the scan, files/s, peak and
                  after-scan resident memory (VmHWM / VmRSS), index size
  restart         nothing changed: time to answer, time to a finished pass
  rescan          1,000 files get another year tag (and mtime): time to find them
  search          20 words (1-, 2-, 3+-character, Chinese and Latin, one and
                  two words), a warm-up round then ROUNDS timed rounds over
                  loopback, client side; then a counting round, whose counts
                  of both services are compared (a substring search should
                  agree)

velmor-musicd is asked over the player's protocol (searchList.php, first page,
exact count); mpd over its own (`search any W window 0:30` timed, the lines
of a full `search any W` counted), with a config of its own: no audio output, loopback, a free
port, no automatic update. The rescan of velmor-musicd is a restart on its
index (it reports the pass as "library ready: ... N changed"); mpd's is the
`update` command.

Usage: tools/bench-library-scale.py [--sizes 10000,100000,300000,1000000]
           [--out DIR] [--musicd PATH] [--gen PATH] [--only velmor|mpd]
Environment: VELMOR_BENCH_LIBS (libraries, default /var/tmp/velmor-bench; each
size in lib-N), VELMOR_BENCH_MUSICD (the service to measure, default
build/musicd/velmor-musicd), VELMOR_BENCH_OUT (results, default
/var/tmp/velmor-bench/results). Results: one JSON object per size and service
in results.jsonl, the searches in queries.csv; tools/plot-library-scale.py
draws them. Figures on a shared machine are noisy: compare runs made together.
"""
import argparse
import csv
import http.client
import json
import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Words chosen to miss the generated genre names (mpd's "any" searches the
# genre too) and to hold no digits (the artist folders and years have them).
QUERIES = [
    "爱", "月", "光", "x", "v",
    "夏天", "月光", "晴川", "我爱", "er", "ow",
    "ight", "golden", "harbor", "river road", "青春 梦想", "烟火人间", "王伟",
    "Mila Blake", "zzqxnomatch",
]
RETAGGED = 1000


def proc_kib(pid, field):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def mib(kib):
    return None if kib is None else round(kib / 1024, 1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentile(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(p * (len(v) - 1) + 0.5))] if v else None


def warm(library):
    start = time.monotonic()
    subprocess.run(f"find '{library}' -type f -print0 | xargs -0 cat > /dev/null",
                   shell=True, check=True)
    return time.monotonic() - start


def ensure_library(gen, library, size):
    start = time.monotonic()
    subprocess.run([gen, library, str(size), "--threads", "2"], check=True)
    return time.monotonic() - start


def retag(gen, library):
    subprocess.run([gen, library, "--retag", str(RETAGGED)], check=True,
                   stdout=subprocess.DEVNULL)


class Velmor:
    """One velmor-musicd process; its stderr lines are timed as they come."""

    def __init__(self, binary, library, index, timeout):
        self.start = time.monotonic()
        self.proc = subprocess.Popen(
            [binary, "--library", library, "--index", index, "--port", "0", "--rescan", "0"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.ready = threading.Event()
        self.ready_line = None
        self.ready_at = None
        self.last_lines = []
        url = self.proc.stdout.readline().strip()
        self.answer_at = time.monotonic()
        if not url.startswith("http://"):
            raise RuntimeError("velmor-musicd printed no URL: " + self.proc.stderr.read())
        self.port = int(url.rsplit(":", 1)[1])
        threading.Thread(target=self._read_err, daemon=True).start()
        threading.Thread(target=self.proc.stdout.read, daemon=True).start()
        self.timeout = timeout

    def _read_err(self):
        for line in self.proc.stderr:
            self.last_lines = (self.last_lines + [line.rstrip()])[-5:]
            if "library ready" in line and not self.ready.is_set():
                self.ready_at = time.monotonic()
                self.ready_line = line.strip()
                self.ready.set()

    def wait_ready(self):
        if not self.ready.wait(self.timeout):
            raise RuntimeError("no 'library ready' in time; last lines: %s" % self.last_lines)
        return self.ready_at - self.start

    def summary(self):
        m = re.search(r"(\d+) tracks \((\d+) new, (\d+) changed, (\d+) removed\), (\d+) "
                      r"unreadable files skipped, ([\d.]+) s", self.ready_line or "")
        if not m:
            return {}
        keys = ["tracks", "new", "changed", "removed", "skipped", "service_seconds"]
        return {k: (float(v) if k == "service_seconds" else int(v))
                for k, v in zip(keys, m.groups())}

    def search(self, conn, word, count=True):
        path = "/app/search/searchList.php?qword=" + urllib.parse.quote_plus(word)
        for attempt in range(2):
            try:
                t = time.perf_counter()
                conn.request("GET", path)
                body = conn.getresponse().read().decode("utf-8", "replace")
                ms = (time.perf_counter() - t) * 1000
                m = re.search(r"找到相关歌曲 (\d+) 首", body)
                return ms, int(m.group(1)) if m else 0
            except (http.client.HTTPException, OSError):
                # The service closes a connection after 100 requests.
                conn.close()
                conn.connect()
        raise RuntimeError("search failed: " + word)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def time_searches(search_one, rounds):
    """search_one(word, count) -> (ms, count); a warm-up round, then rounds timed."""
    times = {w: [] for w in QUERIES}
    for word in QUERIES:
        search_one(word, False)
    for _ in range(rounds):
        for word in QUERIES:
            times[word].append(search_one(word, False)[0])
    every = [t for ts in times.values() for t in ts]
    return times, {
        "search_median_ms": round(statistics.median(every), 3),
        "search_p99_ms": round(percentile(every, 0.99), 3),
        "search_max_ms": round(max(every), 3),
    }


def count_searches(search_one):
    # Last: mpd's counting search answers every match at once, which grows
    # its output buffer, so memory is read before it.
    return {word: search_one(word, True)[1] for word in QUERIES}


def bench_velmor(args, library, size, run_dir, gen):
    index = os.path.join(run_dir, f"velmor-{size}.sqlite")
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(index + suffix):
            os.remove(index + suffix)
    r = {"service": "velmor-musicd", "size": size, "binary": args.musicd}
    v = Velmor(args.musicd, library, index, args.timeout)
    r["first_scan_s"] = round(v.wait_ready(), 2)
    r["first_scan_summary"] = v.summary()
    r["scan_files_per_s"] = round(size / r["first_scan_s"])
    r["scan_peak_mib"] = mib(proc_kib(v.proc.pid, "VmHWM"))
    r["rss_after_scan_mib"] = mib(proc_kib(v.proc.pid, "VmRSS"))
    conn = http.client.HTTPConnection("127.0.0.1", v.port, timeout=60)
    search = lambda w, c: v.search(conn, w, c)  # noqa: E731
    times, figures = time_searches(search, args.rounds)
    r.update(figures)
    r["rss_serving_mib"] = mib(proc_kib(v.proc.pid, "VmRSS"))
    r["peak_mib"] = mib(proc_kib(v.proc.pid, "VmHWM"))
    counts = count_searches(search)
    conn.close()
    print("scanned and searched:", json.dumps(r, ensure_ascii=False), flush=True)
    v.stop()
    size_bytes = sum(os.path.getsize(index + s) for s in ("", "-wal")
                     if os.path.exists(index + s))
    r["index_bytes_per_track"] = round(size_bytes / size)

    v = Velmor(args.musicd, library, index, args.timeout)
    r["restart_answer_s"] = round(v.answer_at - v.start, 3)
    r["restart_ready_s"] = round(v.wait_ready(), 2)
    r["restart_summary"] = v.summary()
    r["restart_peak_mib"] = mib(proc_kib(v.proc.pid, "VmHWM"))
    v.stop()

    retag(gen, library)
    v = Velmor(args.musicd, library, index, args.timeout)
    r["rescan_changed_s"] = round(v.wait_ready(), 2)
    r["rescan_summary"] = v.summary()
    v.stop()
    return r, counts, times


class Mpd:
    """One mpd process with a config of its own, spoken to over its protocol."""

    def __init__(self, library, run_dir, size):
        self.port = free_port()
        self.db = os.path.join(run_dir, f"mpd-{size}.db")
        conf = os.path.join(run_dir, f"mpd-{size}.conf")
        with open(conf, "w") as f:
            f.write(f'music_directory "{library}"\n'
                    f'db_file "{self.db}"\n'
                    f'log_file "{os.path.join(run_dir, f"mpd-{size}.log")}"\n'
                    f'bind_to_address "127.0.0.1"\nport "{self.port}"\n'
                    'auto_update "no"\nzeroconf_enabled "no"\nlog_level "warning"\n'
                    'max_output_buffer_size "1048576"\n'
                    'audio_output {\n type "null"\n name "null"\n}\n')
        self.start = time.monotonic()
        self.proc = subprocess.Popen(["mpd", "--no-daemon", conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.sock = None
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", self.port), timeout=600)
                break
            except OSError:
                if self.proc.poll() is not None:
                    raise RuntimeError("mpd ended: " + self.proc.stderr.read().decode())
                time.sleep(0.02)
        self.file = self.sock.makefile("rb")
        greeting = self.file.readline()
        self.answer_at = time.monotonic()
        if not greeting.startswith(b"OK MPD"):
            raise RuntimeError("not mpd: %r" % greeting)

    @staticmethod
    def quote(word):
        return '"' + word.replace("\\", "\\\\").replace('"', '\\"') + '"'

    def command(self, line):
        self.sock.sendall(line.encode() + b"\n")
        lines = []
        while True:
            raw = self.file.readline()
            if not raw:
                raise RuntimeError("mpd closed the connection")
            text = raw.decode("utf-8", "replace").rstrip("\n")
            if text == "OK":
                return lines
            if text.startswith("ACK"):
                raise RuntimeError(f"mpd: {line}: {text}")
            lines.append(text)

    def fields(self, line):
        return dict(l.split(": ", 1) for l in self.command(line) if ": " in l)

    def update(self, timeout, start=None, ask=True):
        start = start if start is not None else time.monotonic()
        if ask:
            self.command("update")
        while "updating_db" in self.fields("status"):
            if time.monotonic() - start > timeout:
                raise RuntimeError("mpd update did not end in time")
            time.sleep(0.05)
        return time.monotonic() - start

    def search(self, word, count):
        pairs = " ".join("any " + self.quote(w) for w in word.split())
        t = time.perf_counter()
        self.command(f"search {pairs} window 0:30")
        ms = (time.perf_counter() - t) * 1000
        # "count" matches whole values only, so the full search is counted.
        songs = self.command(f"search {pairs}") if count else []
        return ms, sum(1 for l in songs if l.startswith("file: "))

    def stop(self):
        self.sock.close()
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(120)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def bench_mpd(args, library, size, run_dir, gen):
    r = {"service": "mpd", "size": size,
         "binary": subprocess.run(["mpd", "--version"], capture_output=True,
                                  text=True).stdout.splitlines()[0]}
    db = os.path.join(run_dir, f"mpd-{size}.db")
    if os.path.exists(db):
        os.remove(db)
    m = Mpd(library, run_dir, size)
    # Without a database file mpd starts the update itself.
    started = "updating_db" in m.fields("status")
    r["first_scan_s"] = round(m.update(args.timeout, m.start, not started), 2)
    r["first_scan_summary"] = {"tracks": int(m.fields("stats").get("songs", 0))}
    r["scan_files_per_s"] = round(size / r["first_scan_s"])
    r["scan_peak_mib"] = mib(proc_kib(m.proc.pid, "VmHWM"))
    r["rss_after_scan_mib"] = mib(proc_kib(m.proc.pid, "VmRSS"))
    times, figures = time_searches(m.search, args.rounds)
    r.update(figures)
    r["rss_serving_mib"] = mib(proc_kib(m.proc.pid, "VmRSS"))
    r["peak_mib"] = mib(proc_kib(m.proc.pid, "VmHWM"))
    counts = count_searches(m.search)
    r["peak_counting_mib"] = mib(proc_kib(m.proc.pid, "VmHWM"))
    print("scanned and searched:", json.dumps(r, ensure_ascii=False), flush=True)
    m.stop()
    r["index_bytes_per_track"] = round(os.path.getsize(m.db) / size)

    m = Mpd(library, run_dir, size)
    r["restart_answer_s"] = round(m.answer_at - m.start, 3)
    r["restart_summary"] = {"tracks": int(m.fields("stats").get("songs", 0))}
    r["restart_ready_s"] = round(time.monotonic() - m.start, 3)
    r["restart_peak_mib"] = mib(proc_kib(m.proc.pid, "VmHWM"))
    retag(gen, library)
    r["rescan_changed_s"] = round(m.update(args.timeout), 2)
    m.stop()
    return r, counts, times


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--sizes", default="10000,100000,300000,1000000")
    p.add_argument("--out", default=os.environ.get("VELMOR_BENCH_OUT",
                                                   "/var/tmp/velmor-bench/results"))
    p.add_argument("--libs", default=os.environ.get("VELMOR_BENCH_LIBS", "/var/tmp/velmor-bench"))
    p.add_argument("--musicd", default=os.environ.get(
        "VELMOR_BENCH_MUSICD", os.path.join(ROOT, "build/musicd/velmor-musicd")))
    p.add_argument("--gen", default=os.path.join(ROOT, "build/bench/gen_library"))
    p.add_argument("--only", choices=["velmor", "mpd"])
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--timeout", type=float, default=7200)
    args = p.parse_args()
    args.musicd = os.path.abspath(args.musicd)
    os.makedirs(args.out, exist_ok=True)
    run_dir = tempfile.mkdtemp(prefix="run-", dir=args.libs)
    stamp = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    for size in [int(s) for s in args.sizes.split(",")]:
        library = os.path.join(args.libs, f"lib-{size}")
        gen_s = ensure_library(args.gen, library, size)
        warm_s = warm(library)
        print(f"== {size} tracks: library ready in {gen_s:.1f} s, warmed in {warm_s:.1f} s",
              flush=True)
        results = {}
        for name, bench in (("velmor", bench_velmor), ("mpd", bench_mpd)):
            if args.only and args.only != name:
                continue
            r, counts, times = bench(args, library, size, run_dir, args.gen)
            r["when"] = stamp
            results[name] = (counts, times)
            print(json.dumps(r, ensure_ascii=False), flush=True)
            with open(os.path.join(args.out, "results.jsonl"), "a") as f:
                f.write(json.dumps(r, ensure_ascii=False) + "\n")
        queries = os.path.join(args.out, "queries.csv")
        new = not os.path.exists(queries)
        with open(queries, "a", newline="") as f:
            w = csv.writer(f)
            if new:
                w.writerow(["when", "size", "word", "velmor_count", "velmor_median_ms",
                            "mpd_count", "mpd_median_ms"])
            for word in QUERIES:
                row = [stamp, size, word]
                for name in ("velmor", "mpd"):
                    counts, times = results.get(name, ({}, {}))
                    row += [counts.get(word, ""),
                            round(statistics.median(times[word]), 3) if word in times else ""]
                w.writerow(row)
        if len(results) == 2:
            vc, mc = results["velmor"][0], results["mpd"][0]
            for word in QUERIES:
                if vc[word] != mc[word]:
                    print(f"count mismatch at {size} for {word!r}: velmor-musicd {vc[word]}, "
                          f"mpd {mc[word]}", flush=True)
    subprocess.run(["rm", "-rf", run_dir])


if __name__ == "__main__":
    sys.exit(main())
