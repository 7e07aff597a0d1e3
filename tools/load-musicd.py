#!/usr/bin/env python3
"""Load figures for velmor-musicd, mounted from loopback sockets:

  * body size vs memory growth: four clients at once announce a body of the
    size and keep sending it; the service's resident memory is sampled;
  * slow clients vs answer time: N clients each send a request one byte
    every 1.5 s while a normal search page is asked for and timed;
  * burst size vs answers: N connections opened at once, each with one
    request; how many get their answer within 60 s.

usage: tools/load-musicd.py [--bodies MB,..] [--slow N,..] [--bursts N,..] [path/to/velmor-musicd]
       (defaults: 1,64,500 MB; 0,32,200,1000 slow clients; 100,1000,2000 connections;
        build/musicd/velmor-musicd)
"""
import os
import resource
import select
import socket
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SEARCH = b"GET /app/search/searchList.php?qword=starlight HTTP/1.1\r\nHost: x\r\n\r\n"


def start_service(path):
    proc = subprocess.Popen([path, "--port", "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    url = proc.stdout.readline().decode().strip()
    port = int(url.rsplit(":", 1)[1])
    # The request log must be read, or the service's pipe fills.
    threading.Thread(target=lambda: [None for _ in proc.stdout], daemon=True).start()
    return proc, port


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def read_answer(sock, timeout):
    """Status of the first answer on the socket, 0 when none came."""
    sock.settimeout(timeout)
    data = b""
    try:
        while b"\r\n" not in data:
            chunk = sock.recv(4096)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    try:
        return int(data.split(b" ", 2)[1])
    except (IndexError, ValueError):
        return 0


def ask(port, request=SEARCH, timeout=10.0):
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        status = read_answer(s, timeout)
    return status, (time.monotonic() - start) * 1000.0


def body_attack(proc, port, size):
    base = rss_kb(proc.pid)
    peak = [base]
    statuses = []
    sent = []
    stop = threading.Event()

    def sample():
        while not stop.is_set():
            peak[0] = max(peak[0], rss_kb(proc.pid))
            time.sleep(0.05)

    def client():
        s = socket.create_connection(("127.0.0.1", port))
        s.settimeout(3.0)
        s.sendall(b"POST /app/search/searchList.php HTTP/1.1\r\nContent-Length: %d\r\n\r\n" % size)
        chunk = b"x" * (1 << 20)
        total = 0
        try:
            while total < size:
                n = s.send(chunk[: min(len(chunk), size - total)])
                total += n
        except OSError:
            pass
        sent.append(total)
        statuses.append(read_answer(s, 3.0))
        s.close()

    sampler = threading.Thread(target=sample)
    sampler.start()
    threads = [threading.Thread(target=client) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    stop.set()
    sampler.join()
    return peak[0] - base, statuses, sent


def slow_attack(port, count):
    socks = []
    for _ in range(count):
        try:
            socks.append(socket.create_connection(("127.0.0.1", port), timeout=5))
        except OSError:
            break
    stop = threading.Event()

    def drip():
        step = 0
        while not stop.is_set():
            for s in socks:
                try:
                    s.send(SEARCH[step : step + 1])
                except OSError:
                    pass
            step = (step + 1) % 10
            stop.wait(1.5)

    dripper = threading.Thread(target=drip)
    dripper.start()
    time.sleep(2.0)
    status, ms = ask(port, timeout=30.0)
    stop.set()
    dripper.join()
    for s in socks:
        s.close()
    return status, ms, len(socks)


def burst(port, count):
    socks = []
    for _ in range(count):
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        socks.append(s)
    pending = {s.fileno(): s for s in socks}
    sent = set()
    answered = 0
    deadline = time.monotonic() + 60
    poller = select.poll()
    for s in socks:
        poller.register(s, select.POLLOUT)
    while pending and time.monotonic() < deadline:
        for fd, events in poller.poll(200):
            s = pending.get(fd)
            if s is None:
                continue
            if fd not in sent:
                try:
                    s.send(b"GET /app/search/searchList.php?qword=x HTTP/1.1\r\nConnection: close\r\n\r\n")
                    sent.add(fd)
                    poller.modify(s, select.POLLIN)
                except OSError:
                    poller.unregister(s)
                    del pending[fd]
                continue
            try:
                data = s.recv(65536)
            except OSError:
                data = b""
            if data.startswith(b"HTTP/1.1 200"):
                answered += 1
            poller.unregister(s)
            del pending[fd]
    for s in socks:
        s.close()
    return answered


def main():
    args = sys.argv[1:]
    sizes = {"--bodies": [1, 64, 500], "--slow": [0, 32, 200, 1000], "--bursts": [100, 1000, 2000]}
    while args and args[0] in sizes:
        sizes[args[0]] = [int(v) for v in args[1].split(",")]
        args = args[2:]
    path = args[0] if args else os.path.join(ROOT, "build", "musicd", "velmor-musicd")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    proc, port = start_service(path)
    try:
        print("body size vs memory growth (4 clients at once)")
        for size in (mb << 20 for mb in sizes["--bodies"]):
            growth, statuses, sent = body_attack(proc, port, size)
            print(f"  {size >> 20:4d} MB announced: answers {statuses}, taken per client "
                  f"{max(sent) >> 10} KB at most, service memory {growth / 1024:+.1f} MB")
        print("slow clients (a byte every 1.5 s) vs answer time of a normal request")
        for count in sizes["--slow"]:
            status, ms, opened = slow_attack(port, count)
            print(f"  {opened:5d} slow clients: status {status}, answered in {ms:.0f} ms")
        print("burst size vs answers (connections opened at once)")
        for count in sizes["--bursts"]:
            print(f"  {count:5d} connections: {burst(port, count)} answered")
    finally:
        proc.terminate()
        proc.wait(5)


if __name__ == "__main__":
    main()
