#!/usr/bin/env python3
"""Tarvel side by side with nginx (one worker), lighttpd and python3 -m http.server,
in one run, on loopback. Each server gets the same root and its own config on a
free 127.0.0.1 port. Measured for each:
  - requests per second for a 1 KiB page, ab -c 1 and ab -c 8 (20,000 requests);
  - requests per second and MB/s for a 64 KiB file, ab -c 8;
  - MB/s for a 100 MiB file, curl to /dev/null;
  - resident memory (the whole process tree) when idle and after the load;
  - start-up time from launch to the first answered request.
Every figure is the median of --rounds rounds; the servers take turns within a
round, so noise from other work on the machine spreads over all of them.

    bench.py --build BUILD_DIR [--rounds 3] [--requests 20000] [--md FILE] [--data FILE]
             [--also LABEL=TARVEL_SERVE_BINARY]...

The machine may be shared: before each server's turn the script waits (up to
--quiet-wait seconds) for the processors to be mostly idle, and it says how
often they were not.
"""
import argparse
import hashlib
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

KIB, MIB = 1024, 1 << 20


def cpu_idle_fraction(seconds=0.5):
    def sample():
        with open("/proc/stat") as f:
            fields = [int(v) for v in f.readline().split()[1:]]
        return fields[3] + fields[4], sum(fields)  # idle + iowait, all
    idle0, total0 = sample()
    time.sleep(seconds)
    idle1, total1 = sample()
    return (idle1 - idle0) / max(1, total1 - total0)


def wait_for_quiet(limit):
    """Waits until the processors are at least 85% idle; False if they never were."""
    end = time.monotonic() + limit
    while True:
        if cpu_idle_fraction() >= 0.85:
            return True
        if time.monotonic() >= end:
            return False


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answered(port, path):
    """True when a full 200 answer for path came back."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
            s.sendall(f"GET {path} HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n".encode())
            data = b""
            while True:
                piece = s.recv(65536)
                if not piece:
                    break
                data += piece
        return data.startswith(b"HTTP/1.") and b" 200 " in data.split(b"\r\n", 1)[0]
    except OSError:
        return False


def tree(pid):
    """pid and all its descendants."""
    pids, i = [pid], 0
    while i < len(pids):
        try:
            for task in os.listdir(f"/proc/{pids[i]}/task"):
                with open(f"/proc/{pids[i]}/task/{task}/children") as f:
                    pids += [int(p) for p in f.read().split()]
        except OSError:
            pass
        i += 1
    return pids


def rss_kib(pid):
    total = 0
    for p in tree(pid):
        try:
            with open(f"/proc/{p}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


class Server:
    """One server under test: how to configure and start it in a scratch folder."""

    def __init__(self, name, root, scratch, start):
        self.name, self.root, self.scratch, self._start = name, root, scratch, start
        self.prefix = []  # a command put in front of the server's own, e.g. taskset
        self.process = None
        self.port = None

    def start(self):
        self.port = free_port()
        log = open(os.path.join(self.scratch, f"{self.name.split()[0]}.log"), "ab")
        argv, env = self._start(self.port)
        started = time.monotonic()
        self.process = subprocess.Popen(self.prefix + argv, env=env, cwd=self.scratch,
                                        stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        while not answered(self.port, "/page-1k.htm"):
            if self.process.poll() is not None or time.monotonic() - started > 30:
                raise RuntimeError(f"{self.name} did not start (see {log.name})")
            time.sleep(0.002)
        return time.monotonic() - started

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None


def make_servers(args, root, scratch):
    """The servers to measure. args.serve_options (a list, when present) go before
    tarvel-serve's ROOT, args.window_settings ("Key=value" lines) into the window's
    profile, so a run can measure them with an option on, and args.nginx_directives
    (text) into nginx's server block."""
    servers = []
    serve_options = list(getattr(args, "serve_options", None) or [])
    nginx_directives = getattr(args, "nginx_directives", None) or ""
    window_settings = "".join(f"{line}\n" for line in getattr(args, "window_settings", None) or [])
    window = next((p for p in (os.path.join(args.build, "ui", "tarvel"),
                               os.path.join(args.build, "tarvel")) if os.access(p, os.X_OK)), None)
    if window:
        def start_window(port):
            home = tempfile.mkdtemp(dir=scratch)
            os.makedirs(os.path.join(home, "runtime"), mode=0o700)
            with open(os.path.join(home, "tarvel.INI"), "w") as f:
                f.write(f"[Defaults]\nRoot={root}\nChannel={port}\nDefaultURL=index.htm\n"
                        "AutoStart=1\n" + window_settings)
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=home,
                       XDG_RUNTIME_DIR=os.path.join(home, "runtime"), HOME=home)
            return [window], env
        servers.append(Server("tarvel (window)", root, scratch, start_window))
    else:
        print("bench: the desktop program is not built; its row is left out", file=sys.stderr)

    serve = os.path.join(args.build, "tools", "tarvel-serve")
    servers.append(Server("tarvel-serve", root, scratch,
                          lambda port: ([serve, *serve_options, root, str(port)], None)))
    for also in args.also:
        label, binary = also.split("=", 1)
        servers.append(Server(label, root, scratch,
                              lambda port, binary=binary: ([binary, root, str(port)], None)))

    nginx = shutil.which("nginx") or "/usr/sbin/nginx"

    def start_nginx(port):
        prefix = tempfile.mkdtemp(dir=scratch)
        with open(os.path.join(prefix, "nginx.conf"), "w") as f:
            f.write(f"""
worker_processes 1;
daemon off;
pid {prefix}/nginx.pid;
error_log {prefix}/error.log warn;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    keepalive_timeout 0;
    types {{ text/html htm html; application/octet-stream bin; }}
    default_type application/octet-stream;
    client_body_temp_path {prefix}/body;
    proxy_temp_path {prefix}/proxy;
    fastcgi_temp_path {prefix}/fastcgi;
    uwsgi_temp_path {prefix}/uwsgi;
    scgi_temp_path {prefix}/scgi;
    server {{
        listen 127.0.0.1:{port};
        root {root};
        index index.htm;
{nginx_directives}
    }}
}}
""")
        return [nginx, "-p", prefix, "-c", f"{prefix}/nginx.conf", "-e", f"{prefix}/error.log"], None
    servers.append(Server("nginx (1 worker)", root, scratch, start_nginx))

    lighttpd = shutil.which("lighttpd") or "/usr/sbin/lighttpd"

    def start_lighttpd(port):
        folder = tempfile.mkdtemp(dir=scratch)
        with open(os.path.join(folder, "lighttpd.conf"), "w") as f:
            f.write(f"""
server.document-root = "{root}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{folder}/error.log"
index-file.names = ( "index.htm" )
mimetype.assign = ( ".htm" => "text/html", ".bin" => "application/octet-stream" )
""")
        return [lighttpd, "-D", "-f", f"{folder}/lighttpd.conf"], None
    servers.append(Server("lighttpd", root, scratch, start_lighttpd))

    servers.append(Server("python3 http.server", root, scratch, lambda port: (
        [sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "--directory", root,
         str(port)], None)))
    return servers


def ab(port, path, requests, concurrency, prefix=(), headers=()):
    """Requests per second and transfer MB/s, and whether every answer was whole.
    prefix goes in front of ab's command (e.g. taskset); headers are sent with
    each request ("Name: value")."""
    extra = [arg for header in headers for arg in ("-H", header)]
    run = subprocess.run([*prefix, "ab", "-q", "-n", str(requests), "-c", str(concurrency),
                          "-s", "30", *extra, f"http://127.0.0.1:{port}{path}"],
                         capture_output=True, text=True, timeout=600)
    out = run.stdout
    found = re.search(r"Requests per second:\s+([\d.]+)", out)
    if not found:  # ab gave up (a reset, a time-out): say what it printed
        raise RuntimeError(f"ab -c {concurrency} on port {port}{path} gave no rate: "
                           f"{(run.stderr.strip() or out.strip())[-500:]}")
    rate = float(found.group(1))
    kbps = float(re.search(r"Transfer rate:\s+([\d.]+)", out).group(1))
    failed = int(re.search(r"Failed requests:\s+(\d+)", out).group(1))
    non2xx = re.search(r"Non-2xx responses:\s+(\d+)", out)
    complete = int(re.search(r"Complete requests:\s+(\d+)", out).group(1))
    ok = failed == 0 and not non2xx and complete == requests
    return rate, kbps * KIB / 1e6, ok


def curl_mbps(port, path, size):
    out = subprocess.run(["curl", "-s", "-o", "/dev/null", "--max-time", "120", "-w",
                          "%{http_code} %{size_download} %{speed_download}",
                          f"http://127.0.0.1:{port}{path}"], capture_output=True, text=True,
                         timeout=180).stdout.split()
    ok = out[0] == "200" and int(out[1]) == size
    return float(out[2]) / 1e6, ok


COLUMNS = [
    ("small_c1", "1 KiB, ab -c 1 (req/s)", "{:.0f}"),
    ("small_c8", "1 KiB, ab -c 8 (req/s)", "{:.0f}"),
    ("mid_rate", "64 KiB, ab -c 8 (req/s)", "{:.0f}"),
    ("mid_mbps", "64 KiB (MB/s)", "{:.0f}"),
    ("big_mbps", "100 MiB, curl (MB/s)", "{:.0f}"),
    ("rss_idle", "RSS idle (MiB)", "{:.1f}"),
    ("rss_load", "RSS after load (MiB)", "{:.1f}"),
    ("startup", "start-up to first answer (ms)", "{:.0f}"),
]


def measure(server, args, results):
    """One round for one server; appends each figure to results[column]."""
    startups = []
    for _ in range(3):
        startups.append(server.start() * 1000)
        server.stop()
    server.start()
    pid = server.process.pid
    try:
        time.sleep(0.3)
        rss_idle = rss_kib(pid) / KIB
        small_c1, _, ok1 = ab(server.port, "/page-1k.htm", args.requests, 1)
        small_c8, _, ok2 = ab(server.port, "/page-1k.htm", args.requests, 8)
        mid_rate, mid_mbps, ok3 = ab(server.port, "/file-64k.bin", args.requests // 4, 8)
        big = [curl_mbps(server.port, "/big.bin", 100 * MIB) for _ in range(3)]
        rss_load = rss_kib(pid) / KIB
    finally:
        server.stop()
    if not (ok1 and ok2 and ok3 and all(ok for _, ok in big)):
        results.setdefault("incomplete", True)
    figures = dict(small_c1=small_c1, small_c8=small_c8, mid_rate=mid_rate, mid_mbps=mid_mbps,
                   big_mbps=statistics.median(m for m, _ in big), rss_idle=rss_idle,
                   rss_load=rss_load, startup=statistics.median(startups))
    for key, value in figures.items():
        results.setdefault(key, []).append(value)


def write_distinct(name, size):
    """Writes size bytes to name, every MiB of it different (its index in its first
    bytes), so a misplaced piece changes the digest; returns the sha256 (hex)."""
    base = bytearray(os.urandom(MIB))
    digest = hashlib.sha256()
    with open(name, "wb") as f:
        for index in range(-(-size // MIB)):
            base[:8] = index.to_bytes(8, "little")
            piece = base if (index + 1) * MIB <= size else base[:size - index * MIB]
            f.write(piece)
            digest.update(piece)
    os.chmod(name, 0o644)
    return digest.hexdigest()


def make_scratch():
    """A new scratch folder holding the served root (page-1k.htm, index.htm,
    file-64k.bin, big.bin of 100 MiB); returns both paths."""
    scratch = tempfile.mkdtemp(prefix="tarvel-bench-")
    os.chmod(scratch, 0o755)  # nginx's worker runs as nobody and must read the root
    root = os.path.join(scratch, "root")
    os.makedirs(root)
    os.chmod(root, 0o755)
    with open(os.path.join(root, "page-1k.htm"), "wb") as f:
        head, tail = b"<!DOCTYPE html><html><body><p>", b"</p></body></html>\n"
        f.write(head + b"x" * (KIB - len(head) - len(tail)) + tail)
    shutil.copy(os.path.join(root, "page-1k.htm"), os.path.join(root, "index.htm"))
    with open(os.path.join(root, "file-64k.bin"), "wb") as f:
        f.write(os.urandom(64 * KIB))
    with open(os.path.join(root, "big.bin"), "wb") as f:
        for _ in range(100):
            f.write(os.urandom(MIB))
    for name in os.listdir(root):
        os.chmod(os.path.join(root, name), 0o644)
    return scratch, root


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--requests", type=int, default=20000)
    parser.add_argument("--md", default=None)
    parser.add_argument("--data", default=None)
    parser.add_argument("--also", action="append", default=[],
                        help="another tarvel-serve build to measure, as LABEL=BINARY")
    parser.add_argument("--quiet-wait", type=float, default=30)
    parser.add_argument("--command", default="", help="the command to name in the report")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)  # the servers start in a scratch folder
    started = time.time()
    noisy = 0

    scratch, root = make_scratch()
    servers = make_servers(args, root, scratch)
    results = {s.name: {} for s in servers}
    try:
        for round_number in range(1, args.rounds + 1):
            for server in servers:
                quiet = wait_for_quiet(args.quiet_wait)
                noisy += not quiet
                print(f"bench: round {round_number}/{args.rounds}: {server.name}"
                      f"{'' if quiet else ' (the machine is busy)'}", flush=True)
                measure(server, args, results[server.name])
    finally:
        for server in servers:
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)

    header = "| Server | " + " | ".join(title for _, title, _ in COLUMNS) + " |"
    lines = [header, "|" + "---|" * (len(COLUMNS) + 1)]
    data = ["# server " + " ".join(key for key, _, _ in COLUMNS)]
    for name, figures in results.items():
        medians = [statistics.median(figures[key]) for key, _, _ in COLUMNS]
        mark = " (incomplete answers!)" if figures.get("incomplete") else ""
        lines.append(f"| {name}{mark} | " +
                     " | ".join(fmt.format(v) for v, (_, _, fmt) in zip(medians, COLUMNS)) + " |")
        data.append(f'"{name}" ' + " ".join(f"{v:.2f}" for v in medians))
    table = "\n".join(lines)
    print(table)
    if args.md:
        turns = args.rounds * len(servers)
        with open("/proc/cpuinfo") as f:
            model = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "?")
        quiet_note = ("the machine was quiet for every turn" if noisy == 0 else
                      f"in {noisy} of {turns} turns it was still busy with other work")
        with open(args.md, "w") as f:
            f.write(f"""# Benchmark results

Measured {time.strftime('%Y-%m-%d %H:%M', time.localtime(started))} on {os.cpu_count()} cores
({model}), Linux {os.uname().release}, in {(time.time() - started) / 60:.0f} minutes, by
`{args.command or ' '.join(['bench/bench.py'] + sys.argv[1:])}`.
Each figure is the median of {args.rounds} rounds; the servers took turns within each round,
and before each turn the script waited (up to {args.quiet_wait:.0f} s) for the processors to be
at least 85% idle: {quiet_note}. The figures are noisy: client and server share the two cores,
so compare the rows with each other, treat differences under about 10% as noise, and do not
compare with other machines.

{table}
""")
    if args.data:
        with open(args.data, "w") as f:
            f.write("\n".join(data) + "\n")
    return 1 if any(f.get("incomplete") for f in results.values()) else 0


if __name__ == "__main__":
    sys.exit(main())
