#!/usr/bin/env python3
"""Hostile peers against one server at a time, on loopback, while a normal
client on 127.0.0.1 fetches a 1 KiB page every 200 ms: tarvel-serve, the window
program (Qt's offscreen platform) and nginx (one worker), in one run. The peers
come from other addresses of 127.0.0.0/8 (the client socket bound to its source
address before connect), all driven by one selectors loop; a connection the
server closes is replaced at once. Scenarios:
  lines64     64 addresses x 5 unfinished request lines, held
  nonreaders  16 addresses x 2 peers asking for the 64 MiB file with a 4 KiB
              receive buffer, never reading
  trickle     16 addresses x 1 reader of the 64 MiB file at 256 B/s
  idle        1,100 connections from one address that send nothing, the server
              started under a soft limit of 1,024 descriptors
  slowhead    16 addresses x 5 connections sending a request head one byte
              every 300 ms
  honest      readers pacing themselves at 50 KiB/s, 200 KiB/s and 4 MB/s, and
              4 MB/s beside the 16 x 2 non-readers: the exact bytes, never cut
  sigterm     the time SIGTERM takes to end the server under the lines64 swarm
For each, the median, 95th percentile and maximum of the normal client's answer
times; a fetch that gets no full answer within --timeout counts as --timeout.
Writes the Markdown report (--md) and prints the table. Exits 0 whatever the
figures: it measures, it does not judge.

    swarm.py --build BUILD_DIR [--seconds 30] [--servers tarvel-serve,window,nginx]
             [--scenarios lines64,...] [--md FILE]
"""
import argparse
import errno
import hashlib
import heapq
import itertools
import json
import math
import os
import resource
import selectors
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import textwrap
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (the servers and the scratch root)
import cost  # noqa: E402  (the commit measured, Markdown tables)

KIB, MIB = 1024, 1 << 20
PAGE, BIG = "/page-1k.htm", "/big.bin"
BIG_SIZE = 64 * MIB
SERVER_NAMES = {"tarvel-serve": cost.SERVE, "window": cost.WINDOW, "nginx": cost.NGINX}
SCENARIOS = ["lines64", "nonreaders", "trickle", "idle", "slowhead", "honest", "sigterm"]
INTERVAL = 0.2  # between the normal client's fetches
RAMP_LIMIT = 3.0  # the longest wait for the swarm to be connected before measuring
RETRY_AFTER = 0.05  # after a connect that failed at once, so a refusing server is no spin
HONEST = [  # label, bytes per second, file, file size, beside the non-readers
    ("honest 50 KiB/s", 50 * KIB, "/honest-2m5.bin", 5 * MIB // 2, False),
    ("honest 200 KiB/s", 200 * KIB, "/honest-3m.bin", 3 * MIB, False),
    ("honest 4 MB/s", 4_000_000, BIG, BIG_SIZE, False),
    ("honest 4 MB/s + non-readers", 4_000_000, BIG, BIG_SIZE, True),
]
CHUNK = 4 * KIB  # what a paced reader takes at a time
TCP_ESTABLISHED = 1
# Lets connect() choose the port for the destination: every peer of an address is bound
# to it, and without this each bind would hold a port of its own for good.
IP_BIND_ADDRESS_NO_PORT = getattr(socket, "IP_BIND_ADDRESS_NO_PORT", 24)


def request(path):
    return f"GET {path} HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n".encode()


def slow_head():
    """The bytes a slow head sends, one at a time: a real request line and head lines
    without end, so it lasts the scenario however long that is."""
    yield from b"GET /page-1k.htm HTTP/1.0\r\nHost: 127.0.0.1\r\n"
    for n in itertools.count():
        yield from f"X-Slow-{n}: x\r\n".encode()


# ---------------------------------------------------------------- the normal client

def fetch(port, timeout):
    """(seconds, outcome) of one fetch of the 1 KiB page: outcome "ok", "no answer"
    (nothing whole within timeout) or what went wrong."""
    started = time.monotonic()
    deadline = started + timeout
    data = b""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.settimeout(max(0.001, deadline - time.monotonic()))
            s.sendall(request(PAGE))
            while True:
                s.settimeout(max(0.001, deadline - time.monotonic()))
                piece = s.recv(65536)
                if not piece:
                    break
                data += piece
    except socket.timeout:
        return timeout, "no answer"
    except OSError as e:
        return timeout, f"error: {errno.errorcode.get(e.errno, e)}"
    head, _, body = data.partition(b"\r\n\r\n")
    if not head.startswith(b"HTTP/1.") or b" 200 " not in head.split(b"\r\n", 1)[0]:
        return timeout, "not a 200"
    if len(body) != KIB:
        return timeout, "cut"
    return time.monotonic() - started, "ok"


def normal_client(port, seconds, timeout):
    """Fetches every INTERVAL for seconds (a slot missed while waiting is skipped) and
    prints [[seconds, outcome], ...] as JSON."""
    started = time.monotonic()
    results, slot = [], 0
    while slot * INTERVAL < seconds:
        wait = started + slot * INTERVAL - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        results.append(fetch(port, timeout))
        slot = max(slot + 1, math.ceil((time.monotonic() - started) / INTERVAL))
    json.dump(results, sys.stdout)


def start_normal_client(port, seconds, timeout):
    """The normal client in a process of its own, so the attackers' loop never delays it."""
    return subprocess.Popen([sys.executable, os.path.abspath(__file__), "--normal-client",
                             str(port), str(seconds), str(timeout)],
                            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)


# ---------------------------------------------------------------- the attackers

class Peer:
    """One hostile (or honest) connection, and how it behaves."""

    def __init__(self, kind, source, **options):
        self.kind, self.source, self.options = kind, source, options
        self.sock = None
        self.connected = False
        self.accepted = False  # seen owned by the server (non-readers)
        self.head = None  # the slow head's bytes to come
        self.received = 0
        self.answer = b""  # the head of an honest reader's answer
        self.digest = None
        self.started = None
        self.done = None  # why an honest reader ended


class Swarm:
    """Every peer of a scenario in one selectors loop, with a timer heap for the paced ones."""

    def __init__(self, port, server_pid):
        self.port, self.server_pid = port, server_pid
        self.selector = selectors.DefaultSelector()
        self.timers = []  # (when, sequence, peer, action)
        self.sequence = itertools.count()
        self.peers = []
        self.stats = dict(opened=0, closed_by_server=0, failed=0)
        self.next_watch = 0.0

    # --- set-up and tear-down

    def add(self, kind, source, count=1, **options):
        for _ in range(count):
            peer = Peer(kind, source, **options)
            self.peers.append(peer)
            self.connect(peer)

    def connect(self, peer):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            s.setsockopt(socket.IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, 1)
            if peer.options.get("rcvbuf"):
                s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, peer.options["rcvbuf"])
            s.bind((peer.source, 0))
            s.setblocking(False)
            code = s.connect_ex(("127.0.0.1", self.port))
        except OSError:
            s.close()
            self.stats["failed"] += 1
            self.later(RETRY_AFTER, peer, self.connect)
            return
        if code not in (0, errno.EINPROGRESS):
            s.close()
            self.stats["failed"] += 1
            self.later(RETRY_AFTER, peer, self.connect)
            return
        peer.sock, peer.connected, peer.accepted = s, False, False
        self.stats["opened"] += 1
        self.selector.register(s, selectors.EVENT_WRITE, peer)

    def drop(self, peer):
        if peer.sock is not None:
            try:
                self.selector.unregister(peer.sock)
            except (KeyError, ValueError):
                pass
            peer.sock.close()
            peer.sock, peer.connected = None, False

    def replace(self, peer):
        """The server ended peer's connection: a new one at once (honest readers end)."""
        self.stats["closed_by_server"] += 1
        self.drop(peer)
        if peer.kind != "honest":
            self.connect(peer)

    def close(self):
        for peer in self.peers:
            self.drop(peer)
        self.timers.clear()
        self.selector.close()

    def later(self, delay, peer, action):
        heapq.heappush(self.timers, (time.monotonic() + delay, next(self.sequence), peer, action))

    def connected_count(self):
        return sum(p.connected for p in self.peers)

    # --- behaviour

    def on_connected(self, peer):
        s = peer.sock
        error = s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
        if error:
            self.drop(peer)
            self.stats["failed"] += 1
            self.later(RETRY_AFTER, peer, self.connect)
            return
        peer.connected = True
        kind = peer.kind
        if kind == "line":
            s.send(b"GET /page HTTP/1.0")
            self.selector.modify(s, selectors.EVENT_READ, peer)
        elif kind == "idle":
            self.selector.modify(s, selectors.EVENT_READ, peer)
        elif kind == "nonreader":
            s.send(request(BIG))
            self.selector.unregister(s)  # never read; watch() sees it end
        elif kind == "trickle":
            s.send(request(BIG))
            self.selector.unregister(s)
            self.later(0.25, peer, self.trickle)
        elif kind == "slowhead":
            peer.head = slow_head()
            self.selector.modify(s, selectors.EVENT_READ, peer)
            self.slow_byte(peer)
        elif kind == "honest":
            s.send(request(peer.options["path"]))
            peer.digest, peer.started = hashlib.sha256(), time.monotonic()
            self.selector.modify(s, selectors.EVENT_READ, peer)

    def on_readable(self, peer):
        if peer.kind == "honest":
            self.honest_read(peer)
            return
        try:
            data = peer.sock.recv(4096)  # an answer to a held line, e.g. a time-out notice
        except OSError:
            data = b""
        if not data:
            self.replace(peer)

    def trickle(self, peer):
        """64 bytes every 250 ms: 256 B/s."""
        if peer.sock is None:
            return
        try:
            data = peer.sock.recv(64)
        except BlockingIOError:
            data = None
        except OSError:
            data = b""
        if data == b"":
            self.replace(peer)
            return
        self.later(0.25, peer, self.trickle)

    def slow_byte(self, peer):
        if peer.sock is None or peer.kind != "slowhead":
            return
        try:
            peer.sock.send(bytes([next(peer.head)]))
        except BlockingIOError:
            pass
        except OSError:
            self.replace(peer)
            return
        self.later(0.3, peer, self.slow_byte)

    def honest_read(self, peer):
        """Takes at most CHUNK, and pauses whenever that would run ahead of the rate."""
        rate = peer.options["rate"]
        ahead = peer.started + (peer.received + CHUNK) / rate - time.monotonic()
        if ahead > 0:
            self.selector.unregister(peer.sock)
            self.later(ahead, peer, self.honest_resume)
            return
        try:
            data = peer.sock.recv(CHUNK)
        except BlockingIOError:
            return
        except OSError as e:
            data, peer.done = b"", f"error: {errno.errorcode.get(e.errno, e)}"
        if not data:
            peer.done = peer.done or "closed"
            self.drop(peer)
            return
        if len(peer.answer) < 4 or b"\r\n\r\n" not in peer.answer:
            peer.answer += data
            if b"\r\n\r\n" not in peer.answer:
                return
            head, _, body = peer.answer.partition(b"\r\n\r\n")
            peer.answer = head + b"\r\n\r\n"
            data = body
        peer.received += len(data)
        peer.digest.update(data)

    def honest_resume(self, peer):
        if peer.sock is not None:
            self.selector.register(peer.sock, selectors.EVENT_READ, peer)

    def watch(self):
        """Non-readers read nothing, so they cannot see the server close: a connection the
        server has closed with the answer still queued is left to the kernel, owned by no
        process (inode 0 in /proc/net/tcp). One seen owned and then orphaned, or gone, or
        no longer established, is replaced."""
        owners = server_side_owners(self.port)
        for peer in self.peers:
            if peer.kind != "nonreader" or not peer.connected:
                continue
            try:
                state = peer.sock.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 1)[0]
                key = peer.sock.getsockname()
            except OSError:
                self.replace(peer)
                continue
            inode = owners.get(key)
            if inode:
                peer.accepted = True
            if state != TCP_ESTABLISHED or (peer.accepted and not inode):
                self.replace(peer)

    # --- the loop

    def run(self, until, limit):
        """Serves events and timers until until() is true or limit seconds have passed."""
        end = time.monotonic() + limit
        while time.monotonic() < end and not until():
            self.step(0.1)

    def step(self, longest):
        now = time.monotonic()
        timeout = longest
        if self.timers:
            timeout = max(0.0, min(timeout, self.timers[0][0] - now))
        for key, events in self.selector.select(timeout):
            peer = key.data
            if peer.sock is None or key.fileobj is not peer.sock:
                continue
            if not peer.connected:
                self.on_connected(peer)
            else:
                self.on_readable(peer)
        now = time.monotonic()
        while self.timers and self.timers[0][0] <= now:
            _, _, peer, action = heapq.heappop(self.timers)
            action(peer)
        if now >= self.next_watch and any(p.kind == "nonreader" for p in self.peers):
            self.next_watch = now + 0.5
            self.watch()


def server_side_owners(port):
    """{(peer address, peer port): inode} of the server's ends of connections to port."""
    owners = {}
    try:
        with open("/proc/net/tcp") as f:
            next(f)
            for line in f:
                fields = line.split()
                local, remote, inode = fields[1], fields[2], int(fields[9])
                if int(local.split(":")[1], 16) != port:
                    continue
                address, peer_port = remote.split(":")
                ip = socket.inet_ntoa(int(address, 16).to_bytes(4, "little"))
                owners[(ip, int(peer_port, 16))] = inode
    except OSError:
        pass
    return owners


def addresses(block, count):
    """count peer addresses of 127.0.block.0/24, from .1."""
    return [f"127.0.{block}.{i}" for i in range(1, count + 1)]


def add_lines64(swarm):
    for source in addresses(1, 64):
        swarm.add("line", source, 5)


def add_nonreaders(swarm):
    for source in addresses(2, 16):
        swarm.add("nonreader", source, 2, rcvbuf=4096)


ATTACKS = {
    "lines64": add_lines64,
    "nonreaders": add_nonreaders,
    "trickle": lambda swarm: [swarm.add("trickle", s, 1, rcvbuf=4096) for s in addresses(3, 16)],
    "idle": lambda swarm: swarm.add("idle", "127.0.4.1", 1100),
    "slowhead": lambda swarm: [swarm.add("slowhead", s, 5) for s in addresses(5, 16)],
}
# scenario: (goal text, p95 bound, max bound or None)
GOALS = {
    "lines64": ("95% ≤ 1 s, all ≤ 2 s", 1.0, 2.0),
    "nonreaders": ("95% ≤ 1 s, all ≤ 3 s", 1.0, 3.0),
    "trickle": ("95% ≤ 1 s, all ≤ 3 s", 1.0, 3.0),
    "idle": ("95% ≤ 1 s", 1.0, None),
    "slowhead": ("95% ≤ 1 s", 1.0, None),
}


# ---------------------------------------------------------------- one scenario on one server

def percentile(values, share):
    """The nearest-rank percentile."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def collect(client, timeout):
    out, _ = client.communicate(timeout=timeout)
    return json.loads(out or b"[]")


def latency_cells(results):
    times = [t for t, _ in results]
    missing = [o for _, o in results if o != "ok"]
    answers = f"{len(results) - len(missing)} of {len(results)}"
    if missing:
        kinds = {o: missing.count(o) for o in missing}
        answers += " (" + ", ".join(f"{n} {o}" for o, n in sorted(kinds.items())) + ")"
    if not times:
        return answers, None, None, None
    return answers, statistics.median(times), percentile(times, 0.95), max(times)


def ramp(swarm, server):
    """Lets the swarm connect (all of it, or for RAMP_LIMIT seconds); the seconds it took."""
    started = time.monotonic()
    swarm.run(lambda: swarm.connected_count() == len(swarm.peers) or
              server.process.poll() is not None, RAMP_LIMIT)
    return time.monotonic() - started


def attack(server, scenario, args):
    """One attack scenario on a started server: a result row's fields."""
    swarm = Swarm(server.port, server.process.pid)
    client = None
    try:
        ATTACKS[scenario](swarm)
        ramp(swarm, server)
        held_at_start = swarm.connected_count()
        client = start_normal_client(server.port, args.seconds, args.timeout)
        swarm.run(lambda: client.poll() is not None, args.seconds + args.timeout + 10)
        held_at_end = swarm.connected_count()
        results = collect(client, args.timeout + 10)
    finally:
        if client and client.poll() is None:
            client.kill()
            client.wait()
        swarm.close()
    text, p95_bound, max_bound = GOALS[scenario]
    answers, median, p95, worst = latency_cells(results)
    passed = (p95 is not None and p95 <= p95_bound and
              (max_bound is None or worst <= max_bound))
    return dict(answers=answers, median=median, p95=p95, max=worst, goal=text,
                result="PASS" if passed else "FAIL",
                swarm=f"{held_at_start} / {held_at_end} of {len(swarm.peers)}",
                opened=swarm.stats["opened"], closed=swarm.stats["closed_by_server"],
                failed=swarm.stats["failed"])


def honest(server, label, rate, path, size, expected, beside, args):
    """One paced reader (with the non-readers when beside) and the normal client."""
    swarm = Swarm(server.port, server.process.pid)
    client = None
    seconds = size / rate
    try:
        if beside:
            add_nonreaders(swarm)
            ramp(swarm, server)
        swarm.add("honest", "127.0.6.1", 1, rate=rate, path=path)
        reader = swarm.peers[-1]
        client = start_normal_client(server.port, seconds, args.timeout)
        swarm.run(lambda: reader.done is not None and client.poll() is not None,
                  2 * seconds + args.timeout + 30)
        if reader.done is None:
            reader.done = "stalled"
        held = swarm.connected_count()  # before the close below drops them all
        results = collect(client, args.timeout + 10)
        spent = time.monotonic() - reader.started if reader.started else 0.0
    finally:
        if client and client.poll() is None:
            client.kill()
            client.wait()
        swarm.close()
    status = reader.answer.split(b"\r\n", 1)[0].decode("latin-1")
    whole = (reader.received == size and reader.digest.hexdigest() == expected and
             " 200 " in status)
    answers, median, p95, worst = latency_cells(results)
    detail = f"{reader.received:,} of {size:,} bytes in {spent:.1f} s"
    if not whole:
        detail += f", {reader.done}" + ("" if " 200 " in status else f", answer {status!r}")
    return dict(answers=answers, median=median, p95=p95, max=worst,
                goal=f"exact bytes, never cut ({detail})", result="PASS" if whole else "FAIL",
                swarm=f"{held} of {len(swarm.peers)}",
                opened=swarm.stats["opened"], closed=swarm.stats["closed_by_server"],
                failed=swarm.stats["failed"])


def sigterm(server):
    """Seconds from SIGTERM to the server's exit under the lines64 swarm."""
    swarm = Swarm(server.port, server.process.pid)
    try:
        add_lines64(swarm)
        ramp(swarm, server)
        swarm.run(lambda: False, 1.0)
        held = swarm.connected_count()
        sent = time.monotonic()
        server.process.send_signal(signal.SIGTERM)
        swarm.run(lambda: server.process.poll() is not None, 10)
        exited = server.process.poll() is not None
        spent = time.monotonic() - sent
    finally:
        swarm.close()
    result = "PASS" if exited and spent <= 3 else "FAIL"
    return dict(answers="—", median=None, p95=None, max=None,
                goal=f"exit ≤ 3 s after SIGTERM: {'exited' if exited else 'still running'} "
                     f"after {spent:.2f} s", result=result, swarm=f"{held} of {len(swarm.peers)}",
                opened=swarm.stats["opened"], closed=swarm.stats["closed_by_server"],
                failed=swarm.stats["failed"])


# ---------------------------------------------------------------- the run

def start(server):
    """Starts server, once more on another port if it fails; a second failure carries
    what the server printed."""
    try:
        server.start()
    except RuntimeError as failure:
        server.stop()
        print(f"swarm: {failure}; once more", file=sys.stderr, flush=True)
        server.start()


def make_root():
    scratch, root = bench.make_scratch()  # page-1k.htm, index.htm, big.bin (100 MiB)
    big = os.path.join(root, "big.bin")
    os.truncate(big, BIG_SIZE)
    digests = {BIG: sha256_of(big)}
    for _, _, path, size, _ in HONEST:
        if path != BIG:
            name = os.path.join(root, path.lstrip("/"))
            with open(name, "wb") as f:
                f.write(os.urandom(size))
            os.chmod(name, 0o644)
            digests[path] = sha256_of(name)
    return scratch, root, digests


def sha256_of(name):
    digest = hashlib.sha256()
    with open(name, "rb") as f:
        for block in iter(lambda: f.read(MIB), b""):
            digest.update(block)
    return digest.hexdigest()


def run_server(server, scenarios, digests, args, rows):
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    hard_text = "unlimited" if hard == resource.RLIM_INFINITY else str(hard)
    for scenario in scenarios:
        jobs = ([(label, (label, rate, path, size, digests[path], beside))
                 for label, rate, path, size, beside in HONEST]
                if scenario == "honest" else [(scenario, None)])
        for label, honest_args in jobs:
            server.prefix = (["prlimit", f"--nofile=1024:{hard_text}"]
                             if scenario == "idle" else [])
            print(f"swarm: {label} on {server.name}", flush=True)
            start(server)
            try:
                if scenario == "sigterm":
                    row = sigterm(server)
                elif honest_args:
                    row = honest(server, *honest_args, args)
                else:
                    row = attack(server, scenario, args)
                alive = server.process.poll() is None
                if scenario != "sigterm" and not alive:
                    row["result"] = "FAIL"
                    row["goal"] += f" (the server exited, status {server.process.returncode})"
            finally:
                server.stop()
            row.update(scenario=label, server=server.name)
            rows.append(row)
            print("swarm: " + " | ".join(result_cells(row)), flush=True)


def seconds_cell(value):
    if value is None:
        return "—"
    return f"{value * 1000:.1f} ms" if value < 10 else f"{value:.1f} s"


def result_cells(row):
    return [row["scenario"], row["server"], row["answers"], seconds_cell(row["median"]),
            seconds_cell(row["p95"]), seconds_cell(row["max"]), row["goal"], row["result"]]


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--normal-client":
        normal_client(int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]))
        return 0
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--servers", default="tarvel-serve,window,nginx")
    parser.add_argument("--scenarios", default=",".join(SCENARIOS))
    parser.add_argument("--timeout", type=float, default=30,
                        help="how long the normal client waits for one answer")
    parser.add_argument("--md", default=None)
    parser.add_argument("--command", default="", help="the command to name in the report")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    names = [n for n in args.servers.split(",") if n]
    scenarios = [s for s in args.scenarios.split(",") if s]
    unknown = [n for n in names if n not in SERVER_NAMES] + [s for s in scenarios
                                                              if s not in SCENARIOS]
    if unknown:
        parser.error(f"unknown: {', '.join(unknown)} (servers: {', '.join(SERVER_NAMES)}; "
                     f"scenarios: {', '.join(SCENARIOS)})")
    # 1,100 idle peers and every other socket of ours: the soft limit up to what that needs.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = 4096 if hard == resource.RLIM_INFINITY else min(hard, 4096)
    if soft != resource.RLIM_INFINITY and soft < want:
        resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))
    started = time.time()

    scratch, root, digests = make_root()
    servers = {s.name: s for s in bench.make_servers(
        argparse.Namespace(build=args.build, also=[]), root, scratch)}
    rows = []
    try:
        for name in names:
            server = servers.get(SERVER_NAMES[name])
            if server is None:
                print(f"swarm: {name} is not built; left out", file=sys.stderr)
                continue
            run_server(server, scenarios, digests, args, rows)
    finally:
        for server in servers.values():
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)

    header = ["scenario", "server", "answers", "median", "p95", "max", "goal", "result"]
    order = {s: i for i, s in enumerate(SCENARIOS)}
    rows.sort(key=lambda r: order[r["scenario"].split()[0]])  # stable: servers stay in turn
    table = cost.markdown(header, [result_cells(r) for r in rows])
    swarm_table = cost.markdown(
        ["scenario", "server", "peers connected (start / end of measuring)", "connections opened",
         "closed by the server", "connects that failed"],
        [[r["scenario"], r["server"], r["swarm"], f"{r['opened']:,}", f"{r['closed']:,}",
          f"{r['failed']:,}"] for r in rows])
    print(table)
    passed = sum(r["result"] == "PASS" for r in rows)
    method = textwrap.fill(
        f"Each server in turn served one root on 127.0.0.1 and was started afresh for every "
        f"scenario. While a scenario's peers were attacking, a normal client (a process of its "
        f"own, on 127.0.0.1) fetched the 1 KiB page every {INTERVAL * 1000:.0f} ms for "
        f"{args.seconds:g} s (one HTTP/1.0 connection a fetch; a slot missed while a fetch "
        f"waited is skipped); a fetch without a whole 200 answer within {args.timeout:g} s "
        f"counts as {args.timeout:g} s and is listed by what went wrong (\"no answer\": "
        "nothing within the time-out). The 95th percentile is the nearest rank. The peers "
        "ran from one selectors loop, each socket bound to its address of 127.0.0.0/8 before "
        "connect; the swarm had up to 3 s to connect before the normal client began, and a "
        "connection the server closed was replaced at once (a non-reader cannot see a close, "
        "so it counts as closed once the server's end of it has left the server: owned by no "
        "process in /proc/net/tcp). Unfinished lines are `GET /page HTTP/1.0` without CRLF; "
        "non-readers and trickle readers ask for the 64 MiB file with SO_RCVBUF 4096 set "
        "before connect, the trickle readers taking 64 bytes every 250 ms; slow heads send "
        "a request head (lines without end) one byte every 300 ms; idle peers send nothing, "
        "and for that scenario each server was started under `prlimit --nofile=1024:HARD`. "
        "Honest readers use a normal receive buffer and take 4 KiB at a time, pausing "
        "whenever that would run ahead of their rate; the normal client browses for the time "
        "the file takes at that rate; each must end with the file's sha256. nginx runs one "
        "worker (worker_connections 1024) with its default time-outs.", 99)
    report = f"""# Hostile-peer swarms

Measured {time.strftime('%Y-%m-%d %H:%M', time.localtime(started))} on {os.cpu_count()} cores
({cpu_model()}), Linux {os.uname().release}, in {(time.time() - started) / 60:.1f} minutes, by
`{args.command or ' '.join(['bench/swarm.py'] + sys.argv[1:])}`, on the build in
{args.build} (its source folder: {cost.build_source(args.build)}).

{method}

## Answer times of the normal client: {passed} of {len(rows)} pass

{table}

## The swarms

{swarm_table}
"""
    if args.md:
        with open(args.md, "w") as f:
            f.write(report)
    return 0


def cpu_model():
    with open("/proc/cpuinfo") as f:
        return next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "?")


if __name__ == "__main__":
    sys.exit(main())
