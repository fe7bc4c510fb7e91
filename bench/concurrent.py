#!/usr/bin/env python3
"""Several visitors at once, side by side in one run on loopback: tarvel-serve
--concurrent, the window program with Concurrent=1 in its profile (Qt's
offscreen platform), tarvel-serve without the option, nginx (one worker) and
python3's threaded http.server. Scenarios:
  downloads4    four downloads of a 512 MiB file paced at 5 MB/s each, from
                127.0.0.2..5, beside the normal client; then one download of
                the file run to the end (unpaced, or --full-pace) and checked
                against its sha256
  downloads500  500 downloads of the 100 MiB file from 127.0.0.2..17, each
                paced at 50 KiB/s, beside the normal client, with the server's
                resident memory
  reader50k     one reader taking 50 KiB/s of the 100 MiB file, beside the
                normal client
  unpaced1g     one unpaced download of 1 GiB (curl), --rounds interleaved rounds
  page1k        the 1 KiB page with ab at -c 1 and -c 8, --rounds interleaved
                rounds; then bench/syscalls.sh with tarvel-serve --concurrent
                for system calls and CPU per request
A paced reader is a phone's: SO_RCVBUF 64 KiB and TCP_MAXSEG 1460 set before
connect, its source address bound first, reading through a token bucket that
holds at most one second of its pace. The normal client is bench/swarm.py's: a
fresh connection every 200 ms on 127.0.0.1, timed to the last byte of the 1 KiB
page. At the end of each paced window the server's side of every connection is
read with `ss -tie`: a download counts as carried when it is still established,
owned by a process (its inode) and its bytes_acked grew over the last
--check-seconds, because the kernel's send buffer (up to 4 MiB on loopback)
would hide a cut for a long time on the reader's side.
Writes the Markdown report (--md) and prints it. Exits 0 whatever the figures:
it measures, it does not judge.

    concurrent.py --build BUILD_DIR [--servers serve-on,window-on,serve-off,nginx,python]
                  [--scenarios downloads4,...] [--seconds 20] [--rounds 5] [--md FILE]
"""
import argparse
import errno
import hashlib
import heapq
import itertools
import json
import os
import re
import resource
import selectors
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (the servers, ab and the scratch root)
import cost  # noqa: E402  (pinning, Markdown tables, the commit measured)
import swarm  # noqa: E402  (the normal client and its figures)

KIB, MIB, GIB = 1024, 1 << 20, 1 << 30
PAGE = "/page-1k.htm"
FILE_512, FILE_100, FILE_1G = "/big-512m.bin", "/big.bin", "/big-1g.bin"
SIZES = {FILE_512: 512 * MIB, FILE_100: 100 * MIB, FILE_1G: GIB}
# key: column title, the name bench.make_servers gives it
SERVERS = {
    "serve-on": "tarvel-serve --concurrent",
    "window-on": "tarvel (window), Concurrent=1",
    "serve-off": "tarvel-serve, option off",
    "nginx": "nginx (1 worker)",
    "python": "python3 http.server (threads)",
}
ON = ("serve-on", "window-on")  # the rows' goals are theirs
SCENARIOS = ["downloads4", "downloads500", "reader50k", "unpaced1g", "page1k"]
PHONE_RCVBUF, PHONE_MSS = 64 * KIB, 1460
BURST = 1.0  # seconds of pace a reader's token bucket holds
MOST_PER_RECV = 1 * MIB
IP_BIND_ADDRESS_NO_PORT = getattr(socket, "IP_BIND_ADDRESS_NO_PORT", 24)


# ---------------------------------------------------------------- the servers

def make_servers(build, root, scratch):
    """{key: bench.Server} for the keys of SERVERS that are built."""
    on = bench.make_servers(argparse.Namespace(build=build, also=[], serve_options=["--concurrent"],
                                               window_settings=["Concurrent=1"]), root, scratch)
    off = bench.make_servers(argparse.Namespace(build=build, also=[]), root, scratch)
    found = {"serve-on": [s for s in on if s.name == cost.SERVE],
             "window-on": [s for s in on if s.name == cost.WINDOW],
             "serve-off": [s for s in off if s.name == cost.SERVE],
             "nginx": [s for s in off if s.name == cost.NGINX],
             "python": [s for s in off if s.name.startswith("python3")]}
    servers = {}
    for key, title in SERVERS.items():
        if found[key]:
            server = found[key][0]
            server.name = title
            servers[key] = server
    return servers


def start(server, prefix=()):
    """Starts server (once more on another port if it fails)."""
    server.prefix = list(prefix)
    try:
        server.start()
    except RuntimeError as failure:
        server.stop()
        print(f"concurrent: {failure}; once more", file=sys.stderr, flush=True)
        server.start()


def memory_kib(pid):
    """(VmRSS, VmHWM) of pid and its descendants, in KiB."""
    rss = hwm = 0
    for p in bench.tree(pid):
        try:
            with open(f"/proc/{p}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        rss += int(line.split()[1])
                    elif line.startswith("VmHWM:"):
                        hwm += int(line.split()[1])
        except OSError:
            pass
    return rss, hwm


# ---------------------------------------------------------------- paced readers

class Reader:
    """One download: its socket, its token bucket and what it received."""

    def __init__(self, source, path, rate, digest=False):
        self.source, self.path, self.rate = source, path, rate  # rate 0: unpaced
        self.chunk = min(64 * KIB, max(4 * KIB, int(rate / 8))) if rate else MOST_PER_RECV
        self.capacity = max(self.chunk, rate * BURST)
        self.sock = None
        self.events = 0  # what the selector watches for it
        self.connecting = True
        self.local = None  # (address, port): the server's peer of this connection
        self.head = b""
        self.status = None  # the answer's status line once its head is in
        self.received = 0  # body bytes
        self.digest = hashlib.sha256() if digest else None
        self.tokens = 0.0
        self.refilled = 0.0
        self.started = self.finished = None
        self.done = None  # why it ended


class Readers:
    """Every reader of a scenario in one selectors loop, with a timer heap for the paced ones."""

    def __init__(self, port):
        self.port = port
        self.selector = selectors.DefaultSelector()
        self.timers = []
        self.sequence = itertools.count()
        self.readers = []
        self.hook = None  # (interval, function): called every interval while running
        self.next_hook = 0.0

    def add(self, reader):
        self.readers.append(reader)
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            # Set before connect, as they shape the handshake: the window the server sees
            # and the segment size.
            s.setsockopt(socket.IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, 1)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, PHONE_RCVBUF)
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_MAXSEG, PHONE_MSS)
            s.bind((reader.source, 0))
            s.setblocking(False)
            code = s.connect_ex(("127.0.0.1", self.port))
        except OSError as e:
            s.close()
            reader.done = f"connect: {errno.errorcode.get(e.errno, e)}"
            return reader
        if code not in (0, errno.EINPROGRESS):
            s.close()
            reader.done = f"connect: {errno.errorcode.get(code, code)}"
            return reader
        reader.sock = s
        self.watch(reader, selectors.EVENT_WRITE)
        return reader

    def watch(self, reader, events):
        if events == reader.events:
            return
        if not reader.events:
            self.selector.register(reader.sock, events, reader)
        elif not events:
            self.selector.unregister(reader.sock)
        else:
            self.selector.modify(reader.sock, events, reader)
        reader.events = events

    def finish(self, reader, why):
        if reader.sock is not None:
            self.watch(reader, 0)
            reader.sock.close()
            reader.sock = None
        reader.done = reader.done or why
        reader.finished = time.monotonic()

    def close(self):
        for reader in self.readers:
            if reader.sock is not None:
                self.finish(reader, "ended by the bench")
        self.timers.clear()
        self.selector.close()

    def on_event(self, reader):
        if reader.connecting:
            error = reader.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
            if error:
                self.finish(reader, f"connect: {errno.errorcode.get(error, error)}")
                return
            reader.connecting = False
            reader.local = reader.sock.getsockname()
            reader.sock.send(f"GET {reader.path} HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n".encode())
            reader.started = reader.refilled = time.monotonic()
        self.read(reader)

    def read(self, reader):
        """Takes what the bucket allows; waits for data or for tokens."""
        for _ in range(16):  # then lets the others have a turn
            if reader.rate:
                now = time.monotonic()
                reader.tokens = min(reader.capacity,
                                    reader.tokens + (now - reader.refilled) * reader.rate)
                reader.refilled = now
                if reader.tokens < reader.chunk:
                    self.watch(reader, 0)
                    wait = (reader.chunk - reader.tokens) / reader.rate
                    heapq.heappush(self.timers, (now + wait, next(self.sequence), reader))
                    return
                want = min(int(reader.tokens), MOST_PER_RECV)
            else:
                want = MOST_PER_RECV
            try:
                data = reader.sock.recv(want)
            except BlockingIOError:
                self.watch(reader, selectors.EVENT_READ)
                return
            except OSError as e:
                self.finish(reader, f"error: {errno.errorcode.get(e.errno, e)}")
                return
            if not data:
                self.finish(reader, "closed")
                return
            reader.tokens -= len(data)
            self.take(reader, data)
        self.watch(reader, selectors.EVENT_READ)

    @staticmethod
    def take(reader, data):
        if reader.status is None:
            reader.head += data
            if b"\r\n\r\n" not in reader.head:
                return
            head, _, data = reader.head.partition(b"\r\n\r\n")
            reader.status = head.split(b"\r\n", 1)[0].decode("latin-1")
            reader.head = b""
        reader.received += len(data)
        if reader.digest:
            reader.digest.update(data)

    def run(self, until, limit):
        end = time.monotonic() + limit
        while time.monotonic() < end and not until():
            self.step(min(0.05, max(0.0, end - time.monotonic())))

    def run_for(self, seconds):
        self.run(lambda: False, seconds)

    def step(self, longest):
        now = time.monotonic()
        timeout = longest
        if self.timers:
            timeout = max(0.0, min(timeout, self.timers[0][0] - now))
        for key, _ in self.selector.select(timeout):
            reader = key.data
            if reader.sock is not None and key.fileobj is reader.sock:
                self.on_event(reader)
        now = time.monotonic()
        while self.timers and self.timers[0][0] <= now:
            _, _, reader = heapq.heappop(self.timers)
            if reader.sock is not None:
                self.read(reader)
        if self.hook and now >= self.next_hook:
            self.next_hook = now + self.hook[0]
            self.hook[1]()


def server_side(port):
    """{(peer address, peer port): (state, inode, bytes_acked)} of the server's ends of
    connections to port, from ss."""
    out = subprocess.run(["ss", "-tieHn", f"( sport = :{port} )"], capture_output=True,
                         text=True, timeout=60).stdout
    found, key = {}, None
    for line in out.splitlines():
        if not line.strip():
            continue
        if not line[0].isspace():
            fields = line.split()
            address, _, peer_port = fields[4].rpartition(":")
            address = address.strip("[]").removeprefix("::ffff:")
            inode = re.search(r"\bino:(\d+)", line)
            key = (address, int(peer_port))
            found[key] = [fields[0], int(inode.group(1)) if inode else 0, 0]
        elif key is not None:
            acked = re.search(r"\bbytes_acked:(\d+)", line)
            if acked:
                found[key][2] = int(acked.group(1))
    return {k: tuple(v) for k, v in found.items()}


def carried(reader, before, after):
    """Whether the server still carries reader's download: its end established, owned by
    a process and its acknowledged bytes growing."""
    if reader.local is None or reader.sock is None:
        return False
    then, now = before.get(reader.local), after.get(reader.local)
    return (now is not None and then is not None and now[0] == "ESTAB" and now[1] != 0 and
            now[2] > then[2])


# ---------------------------------------------------------------- the paced scenarios

def paced_window(server, readers, loop, args, seconds, ramp, memory=False):
    """Lets readers start (up to ramp seconds), then runs them for seconds beside the
    normal client; the window's figures."""
    loop.run(lambda: all(r.status is not None or r.done for r in readers), ramp)
    ramped = sum(r.status is not None for r in readers)
    peaks = []
    if memory:
        loop.hook = (1.0, lambda: peaks.append(memory_kib(server.process.pid)[0]))
    client = swarm.start_normal_client(server.port, seconds, args.timeout)
    t0 = time.monotonic()
    base = [r.received for r in readers]
    try:
        check = min(args.check_seconds, seconds / 2)
        loop.run_for(t0 + seconds - check - time.monotonic())
        before = server_side(server.port)
        loop.run_for(t0 + seconds - time.monotonic())
        after = server_side(server.port)
        t1 = time.monotonic()
        got = [r.received for r in readers]
        rss, hwm = memory_kib(server.process.pid)
        peaks.append(rss)
        held = sum(carried(r, before, after) for r in readers)
        loop.hook = None
        loop.run(lambda: client.poll() is not None, args.timeout + 15)
        results = swarm.collect(client, args.timeout + 15)
    finally:
        if client.poll() is None:
            client.kill()
            client.wait()
    shares = [(g - b) / (r.rate * (t1 - t0)) for r, b, g in zip(readers, base, got)]
    statuses = {}
    for r in readers:
        what = r.status.split(" ", 2)[1] if r.status else (r.done or "no answer yet")
        statuses[what] = statuses.get(what, 0) + 1
    answers, median, p95, worst = swarm.latency_cells(results)
    ended = sum(r.done is not None for r in readers)
    return dict(shares=shares, carried=held, count=len(readers), ramped=ramped,
                statuses=statuses, answers=answers, median=median, p95=p95, max=worst,
                rss=max(peaks) if peaks else rss, rss_end=rss, hwm=hwm, ended=ended,
                seconds=t1 - t0)


def run_to_end(server, args, expected):
    """One download of the 512 MiB file to its end, checked against its sha256."""
    loop = Readers(server.port)
    try:
        reader = loop.add(Reader("127.0.0.6", FILE_512, args.full_pace, digest=True))
        loop.run(lambda: reader.done is not None, args.full_limit)
        if reader.done is None:
            loop.finish(reader, "still running at the limit")
    finally:
        loop.close()
    spent = (reader.finished or time.monotonic()) - (reader.started or time.monotonic())
    size = SIZES[FILE_512]
    exact = (reader.status is not None and " 200 " in f"{reader.status} " and
             reader.received == size and reader.digest.hexdigest() == expected)
    if exact:
        text = f"exact sha256, {size / spent / 1e6:.0f} MB/s ({spent:.1f} s)"
    else:
        text = (f"NOT exact: {reader.received:,} of {size:,} bytes, {reader.done}"
                f"{'' if reader.status is None else ', ' + reader.status}")
    return dict(exact=exact, text=text)


def downloads4(server, args, digests):
    loop = Readers(server.port)
    try:
        readers = [loop.add(Reader(f"127.0.0.{2 + i}", FILE_512, args.pace4))
                   for i in range(4)]
        row = paced_window(server, readers, loop, args, args.seconds, args.ramp)
    finally:
        loop.close()
    row["full"] = run_to_end(server, args, digests[FILE_512])
    return row


def downloads500(server, args, _):
    loop = Readers(server.port)
    try:
        readers = [loop.add(Reader(f"127.0.0.{2 + i % 16}", FILE_100, args.pace500))
                   for i in range(args.many)]
        return paced_window(server, readers, loop, args, args.many_seconds, args.many_ramp,
                            memory=True)
    finally:
        loop.close()


def reader50k(server, args, _):
    loop = Readers(server.port)
    try:
        readers = [loop.add(Reader("127.0.0.2", FILE_100, args.pace500))]
        return paced_window(server, readers, loop, args, args.slow_seconds, args.ramp)
    finally:
        loop.close()


PACED = {"downloads4": downloads4, "downloads500": downloads500, "reader50k": reader50k}


def paced_scenarios(servers, scenarios, args, digests):
    """{scenario: {server key: figures}}, every server started afresh for each scenario."""
    found = {}
    for scenario in scenarios:
        for key, server in servers.items():
            print(f"concurrent: {scenario} on {server.name}", flush=True)
            start(server)
            try:
                row = PACED[scenario](server, args, digests)
                row["alive"] = server.process.poll() is None
            finally:
                server.stop()
            found.setdefault(scenario, {})[key] = row
            print(f"concurrent:   shares {share_text(row['shares'])}, carried "
                  f"{row['carried']} of {row['count']}, client p95 {ms(row['p95'])}, "
                  f"max {ms(row['max'])}", flush=True)
    return found


# ---------------------------------------------------------------- interleaved rounds

def curl_rate(port, path, size):
    """MB/s of one unpaced download with curl (pinned to the client core), and whether
    it was whole."""
    out = subprocess.run(cost.CLIENT + ["curl", "-s", "-o", "/dev/null", "--max-time", "300",
                                        "-w", "%{http_code} %{size_download} %{speed_download}",
                                        f"http://127.0.0.1:{port}{path}"],
                         capture_output=True, text=True, timeout=330).stdout.split()
    return float(out[2]) / 1e6, out[0] == "200" and int(out[1]) == size


def interleaved(servers, scenarios, args):
    """{figure: {server key: [one value a round]}} for unpaced1g and page1k: all the
    servers running at once, pinned to the server core. In a round each figure is taken
    in a palindrome of turns (A B C C B A, two half runs a server), so every server's turns
    centre on the same moment and a drift of the machine's speed, which on a shared host
    is large, falls on all of them alike; a figure is the round's work over its time."""
    figures, whole, busy = {}, {key: True for key in servers}, 0
    measures = ([("1g", None)] if "unpaced1g" in scenarios else []) + (
        [("c1", 1), ("c8", 8)] if "page1k" in scenarios else [])
    half = max(1, args.requests // 2)
    try:
        for server in servers.values():
            start(server, ["taskset", "-c", cost.SERVER_CORE])
            bench.ab(server.port, PAGE, 500, 1, cost.CLIENT)  # warm caches and lazy set-up
        for number in range(1, args.rounds + 1):
            busy += not bench.wait_for_quiet(args.quiet_wait)
            print(f"concurrent: round {number}/{args.rounds} of {', '.join(scenarios)}",
                  flush=True)
            turns = list(servers) if number % 2 else list(servers)[::-1]
            for name, concurrency in measures:
                spent = {key: 0.0 for key in servers}
                for key in turns + turns[::-1]:
                    port = servers[key].port
                    if concurrency is None:
                        rate, ok = curl_rate(port, FILE_1G, SIZES[FILE_1G])
                        spent[key] += SIZES[FILE_1G] / 1e6 / rate
                    else:
                        rate, _, ok = bench.ab(port, PAGE, half, concurrency, cost.CLIENT)
                        spent[key] += half / rate
                    whole[key] &= ok
                work = 2 * (SIZES[FILE_1G] / 1e6 if concurrency is None else half)
                for key in servers:
                    figures.setdefault(name, {}).setdefault(key, []).append(work / spent[key])
    finally:
        for server in servers.values():
            server.stop()
    return figures, whole, busy


def syscalls(build, servers, args):
    """bench/syscalls.sh with tarvel-serve --concurrent (and the option off as another
    row): its figures by server name, or None when it did not run."""
    if "serve-on" not in servers:
        return None
    here = os.path.dirname(os.path.abspath(__file__))
    handle, out = tempfile.mkstemp(suffix=".json")
    os.close(handle)
    off = os.path.join(build, "tools", "tarvel-serve")
    command = ["bash", os.path.join(here, "syscalls.sh"), build, "--rounds", str(args.cost_rounds),
               "--requests", str(args.cost_requests),
               "--quiet-wait", str(args.quiet_wait), "--json", out,
               "--also", f"{SERVERS['serve-off']}={off}"]
    # Never over bench/cost.md, syscalls.sh's own report.
    command += ["--md", args.cost_md or os.path.join(tempfile.gettempdir(), "concurrent-cost.md")]
    print("concurrent: SERVE_OPTIONS=--concurrent WINDOW_SETTINGS=Concurrent=1 "
          + " ".join(command[1:]), flush=True)
    env = dict(os.environ, SERVE_OPTIONS="--concurrent", WINDOW_SETTINGS="Concurrent=1")
    try:
        # It fails when an answer was incomplete, and says so in its figures: they are kept.
        done = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, timeout=1800)
        if done.returncode:
            print(f"concurrent: syscalls.sh exited {done.returncode}", file=sys.stderr, flush=True)
        with open(out) as f:
            return json.load(f)
    except (subprocess.SubprocessError, OSError, ValueError) as failure:
        print(f"concurrent: syscalls.sh failed: {failure}", file=sys.stderr, flush=True)
        return None
    finally:
        if os.path.exists(out):
            os.remove(out)


# ---------------------------------------------------------------- the report

def ms(value):
    return "—" if value is None else f"{value * 1000:.1f} ms" if value < 10 else f"{value:.1f} s"


def share_text(shares):
    if not shares:
        return "—"
    if len(shares) <= 4:
        return " / ".join(f"{s:.2f}" for s in shares)
    return f"min {min(shares):.2f}, median {statistics.median(shares):.2f}"


def verdict(value, passes):
    return "—" if value is None else "PASS" if passes(value) else "MISS"


def table(keys, rows):
    """rows: (figure, {key: cell}, goal, {key: PASS/MISS}) with a verdict for the ON servers."""
    judged = {"serve-on": "tarvel-serve", "window-on": "window"}
    header = ["figure"] + [SERVERS[k] for k in keys] + [
        "goal", "verdict (" + " / ".join(judged[k] for k in ON if k in keys) + ", option on)"]
    lines = []
    for figure, cells, goal, verdicts in rows:
        shown = " / ".join(verdicts.get(k, "—") for k in ON if k in keys) if goal else ""
        lines.append([figure] + [cells.get(k, "—") for k in keys] + [goal or "", shown])
    return cost.markdown(header, lines)


def client_rows(rows, found, keys, p95_goal, max_goal):
    rows.append(("normal client: whole answers", {k: found[k]["answers"] for k in keys}, None, {}))
    rows.append(("normal client: p95", {k: ms(found[k]["p95"]) for k in keys},
                 f"≤ {p95_goal * 1000:.0f} ms",
                 {k: verdict(found[k]["p95"], lambda v: v <= p95_goal) for k in keys}))
    rows.append(("normal client: max", {k: ms(found[k]["max"]) for k in keys},
                 f"≤ {max_goal * 1000:.0f} ms" if max_goal else None,
                 {k: verdict(found[k]["max"], lambda v: v <= max_goal) for k in keys}
                 if max_goal else {}))


def status_text(statuses):
    return ", ".join(f"{n} × {what}" for what, n in sorted(statuses.items(), key=lambda i: -i[1]))


def downloads4_table(found, keys, args):
    rows = [("downloads' share of their pace, each", {k: share_text(found[k]["shares"])
                                                      for k in keys},
             "each ≥ 0.95", {k: verdict(min(found[k]["shares"]), lambda v: v >= 0.95)
                             for k in keys}),
            ("carried by the server at the end (ss)", {k: f"{found[k]['carried']} of 4"
                                                        for k in keys},
             "4 of 4", {k: verdict(found[k]["carried"], lambda v: v == 4) for k in keys}),
            ("answers to the downloads", {k: status_text(found[k]["statuses"]) for k in keys},
             None, {})]
    client_rows(rows, found, keys, 0.010, 0.100)
    rows.append(("512 MiB to the end, " + (f"paced at {args.full_pace / 1e6:g} MB/s"
                                           if args.full_pace else "unpaced"),
                 {k: found[k]["full"]["text"] for k in keys}, "exact bytes",
                 {k: "PASS" if found[k]["full"]["exact"] else "MISS" for k in keys}))
    return table(keys, rows)


def downloads500_table(found, keys, args):
    count = args.many
    rows = [("downloads answered (head in) before the window",
             {k: f"{found[k]['ramped']} of {count}" for k in keys}, None, {}),
            ("share of pace", {k: share_text(found[k]["shares"]) for k in keys},
             "every one ≥ 0.5", {k: verdict(min(found[k]["shares"]), lambda v: v >= 0.5)
                                 for k in keys}),
            ("downloads under half their pace",
             {k: str(sum(s < 0.5 for s in found[k]["shares"])) for k in keys}, None, {}),
            ("carried by the server at the end (ss)",
             {k: f"{found[k]['carried']} of {count}" for k in keys},
             f"{count} of {count}", {k: verdict(found[k]["carried"], lambda v: v == count)
                                     for k in keys}),
            ("answers to the downloads", {k: status_text(found[k]["statuses"]) for k in keys},
             None, {})]
    client_rows(rows, found, keys, 0.050, None)
    rows.append(("resident memory, most seen (VmRSS)",
                 {k: f"{found[k]['rss'] / KIB:.1f} MiB" for k in keys},
                 "tarvel-serve ≤ 64 MiB", {"serve-on": verdict(found.get("serve-on", {}).get("rss"),
                                                              lambda v: v <= 64 * KIB)}))
    rows.append(("resident memory, high-water mark (VmHWM)",
                 {k: f"{found[k]['hwm'] / KIB:.1f} MiB" for k in keys},
                 "tarvel-serve ≤ 64 MiB", {"serve-on": verdict(found.get("serve-on", {}).get("hwm"),
                                                              lambda v: v <= 64 * KIB)}))
    return table(keys, rows)


def reader50k_table(found, keys, args):
    rows = [("reader's share of its pace", {k: share_text(found[k]["shares"]) for k in keys},
             None, {}),
            ("carried by the server at the end (ss)", {k: f"{found[k]['carried']} of 1"
                                                        for k in keys}, None, {})]
    client_rows(rows, found, keys, 0.010, None)
    return table(keys, rows)


def rounds_cell(values, fmt):
    return f"{fmt.format(statistics.median(values))} ({', '.join(fmt.format(v) for v in values)})"


def ratios(figures, name):
    on, off = figures.get(name, {}).get("serve-on"), figures.get(name, {}).get("serve-off")
    if not on or not off:
        return None
    return [a / b for a, b in zip(on, off)]


def interleaved_table(figures, whole, keys, name, title, unit, fmt, goal):
    rows = [(f"{title}, median ({unit}; each round)",
             {k: rounds_cell(figures[name][k], fmt) + ("" if whole[k] else " (incomplete!)")
              for k in keys if k in figures.get(name, {})}, None, {})]
    share = ratios(figures, name)
    if share is not None:
        rows.append(("option on / off, median of the rounds' ratios (each round)",
                     {"serve-on": rounds_cell(share, "{:.2f}")}, f"≥ {goal}",
                     {"serve-on": verdict(statistics.median(share), lambda v: v >= goal)}))
    return rows


def syscall_rows(found, keys):
    names = {k: SERVERS[k] for k in keys}
    # cost.py names the Tarvel programs by its own constants; the option-off row is ours.
    names.update({"serve-on": cost.SERVE, "window-on": cost.WINDOW})
    cells = lambda field, fmt: {k: fmt.format(found[n][field]) +
                                (" (incomplete answers!)" if found[n].get("incomplete") else "")
                                for k, n in names.items()
                                if n in found and found[n].get(field) is not None}
    calls = found.get(cost.SERVE, {}).get("calls")
    nginx_cpu = found.get(cost.NGINX, {}).get("cpu_us")
    cpu = found.get(cost.SERVE, {}).get("cpu_us")
    share = cpu / nginx_cpu if cpu and nginx_cpu else None
    off_cpu = found.get(SERVERS["serve-off"], {}).get("cpu_us")
    return [("system calls per 1 KiB request (strace -c)", cells("calls", "{:.2f}"), "≤ 11",
             {"serve-on": verdict(calls, lambda v: v <= 11.005)}),
            ("server CPU per 1 KiB request (µs)", cells("cpu_us", "{:.1f}"), None, {}),
            ("server CPU per request / nginx's", {"serve-on": "—" if share is None
                                                  else f"{share:.2f}"}, "≤ 0.80",
             {"serve-on": verdict(share, lambda v: v <= 0.8)}),
            ("server CPU per request / the option off's", {"serve-on": "—" if not cpu or not off_cpu
                                                           else f"{cpu / off_cpu:.2f}"}, None, {})]


def cpu_model():
    with open("/proc/cpuinfo") as f:
        return next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "?")


def make_root():
    """bench.py's root (page-1k.htm, big.bin of 100 MiB) with a 512 MiB and a 1 GiB file
    whose every MiB differs (its index in the first bytes), so a misplaced piece changes
    the sha256; {path: sha256} of the 512 MiB one."""
    scratch, root = bench.make_scratch()
    digests = {path: bench.write_distinct(os.path.join(root, path.lstrip("/")), SIZES[path])
               for path in (FILE_512, FILE_1G)}
    return scratch, root, digests


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--servers", default=",".join(SERVERS))
    parser.add_argument("--scenarios", default=",".join(SCENARIOS))
    parser.add_argument("--seconds", type=float, default=20,
                        help="the window of the four 5 MB/s downloads")
    parser.add_argument("--many-seconds", type=float, default=20,
                        help="the window of the 500 downloads")
    parser.add_argument("--slow-seconds", type=float, default=20,
                        help="the window of the 50 KiB/s reader")
    parser.add_argument("--many", type=int, default=500, help="downloads at once")
    parser.add_argument("--pace4", type=float, default=5e6, help="bytes a second")
    parser.add_argument("--pace500", type=float, default=50 * KIB, help="bytes a second")
    parser.add_argument("--full-pace", type=float, default=0,
                        help="bytes a second of the download run to the end (0: unpaced)")
    parser.add_argument("--full-limit", type=float, default=180,
                        help="the longest the download run to the end may take")
    parser.add_argument("--ramp", type=float, default=5,
                        help="the longest wait for the downloads' heads before a window")
    parser.add_argument("--many-ramp", type=float, default=10)
    parser.add_argument("--check-seconds", type=float, default=2,
                        help="how long a download's acknowledged bytes must grow at the end")
    parser.add_argument("--timeout", type=float, default=5,
                        help="how long the normal client waits for one answer")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--requests", type=int, default=5000, help="ab requests a run")
    parser.add_argument("--cost-rounds", type=int, default=3,
                        help="rounds of bench/syscalls.sh (0: not run)")
    parser.add_argument("--cost-requests", type=int, default=10000,
                        help="its requests for CPU per request and -c 8")
    parser.add_argument("--cost-md", default=None, help="where syscalls.sh writes its report")
    parser.add_argument("--quiet-wait", type=float, default=5)
    parser.add_argument("--md", default=None)
    parser.add_argument("--command", default="", help="the command to name in the report")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    keys = [k for k in args.servers.split(",") if k]
    scenarios = [s for s in args.scenarios.split(",") if s]
    unknown = [k for k in keys if k not in SERVERS] + [s for s in scenarios if s not in SCENARIOS]
    if unknown:
        parser.error(f"unknown: {', '.join(unknown)} (servers: {', '.join(SERVERS)}; "
                     f"scenarios: {', '.join(SCENARIOS)})")
    if len(os.sched_getaffinity(0)) < 2:
        sys.exit("concurrent.py: needs two cores, one for the servers and one for the clients")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = 8192 if hard == resource.RLIM_INFINITY else min(hard, 8192)
    if soft != resource.RLIM_INFINITY and soft < want:
        resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))
    started = time.time()

    print("concurrent: making the files", flush=True)
    scratch, root, digests = make_root()
    every = make_servers(args.build, root, scratch)
    servers = {k: every[k] for k in keys if k in every}
    for key in keys:
        if key not in every:
            print(f"concurrent: {SERVERS[key]} is not built; left out", file=sys.stderr)
    keys = list(servers)
    try:
        paced = paced_scenarios(servers, [s for s in scenarios if s in PACED], args, digests)
        rounds_of = [s for s in scenarios if s in ("unpaced1g", "page1k")]
        figures, whole, busy = interleaved(servers, rounds_of, args) if rounds_of else ({}, {}, 0)
    finally:
        for server in servers.values():
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)
    costs = (syscalls(args.build, servers, args)
             if "page1k" in scenarios and args.cost_rounds > 0 else None)

    sections = []
    if "downloads4" in paced:
        sections.append((f"Four downloads of 512 MiB at {args.pace4 / 1e6:g} MB/s each, "
                         f"{args.seconds:g} s", downloads4_table(paced["downloads4"], keys, args)))
    if "downloads500" in paced:
        sections.append((f"{args.many} downloads at {args.pace500 / KIB:g} KiB/s each from 16 "
                         f"addresses, {args.many_seconds:g} s",
                         downloads500_table(paced["downloads500"], keys, args)))
    if "reader50k" in paced:
        sections.append((f"One reader at {args.pace500 / KIB:g} KiB/s, {args.slow_seconds:g} s",
                         reader50k_table(paced["reader50k"], keys, args)))
    if "unpaced1g" in rounds_of:
        sections.append((f"One unpaced download of 1 GiB, {args.rounds} interleaved rounds",
                         table(keys, interleaved_table(figures, whole, keys, "1g",
                                                       "curl", "MB/s", "{:.0f}", 0.9))))
    if "page1k" in rounds_of:
        rows = (interleaved_table(figures, whole, keys, "c1", "1 KiB page, ab -c 1", "req/s",
                                  "{:.0f}", 0.95) +
                interleaved_table(figures, whole, keys, "c8", "1 KiB page, ab -c 8", "req/s",
                                  "{:.0f}", 0.95))
        if costs is not None:
            rows += syscall_rows(costs, keys)
        else:
            rows.append(("system calls and CPU per request", {}, "not measured", {}))
        sections.append((f"The 1 KiB page, {args.rounds} interleaved rounds", table(keys, rows)))

    body = "\n\n".join(f"## {title}\n\n{text}" for title, text in sections)
    print(body)
    method = textwrap.fill(
        "Each server served one root on 127.0.0.1. For the paced scenarios each was started "
        "afresh, unpinned, and measured alone. A paced reader is a phone's: SO_RCVBUF "
        f"{PHONE_RCVBUF // KIB} KiB and TCP_MAXSEG {PHONE_MSS} set before connect, its source "
        "address bound first, reading through a token bucket that holds at most "
        f"{BURST:g} s of its pace, so a stall longer than that is lost, not made up; its share "
        "of pace is the body bytes it took over the window divided by pace × window. The "
        f"readers' heads had up to {args.ramp:g} s ({args.many_ramp:g} s for the "
        f"{args.many}) to come in before the window began. The four downloads come from "
        f"127.0.0.2..5, one each, the {args.many} from 127.0.0.2..17 in turn, the lone reader "
        "from 127.0.0.2. Carried: at the end of the window the server's end of the connection "
        "(`ss -tie`) is established, owned by a process (an inode: a socket the server closed "
        "with bytes still queued has none) and its bytes_acked grew over the last "
        f"{args.check_seconds:g} s; the kernel's send buffer of up to 4 MiB would otherwise "
        "hide a cut for a long time. The normal client (bench/swarm.py's, a process of its "
        "own) opens a fresh HTTP/1.0 connection on 127.0.0.1 every 200 ms for the window and "
        "times it to the last byte of the 1 KiB page; a fetch without a whole 200 answer "
        f"within {args.timeout:g} s counts as {args.timeout:g} s; p95 is the nearest rank. "
        "After the four downloads, one more download of the 512 MiB file, from 127.0.0.6 with "
        "the same socket options, " + (f"paced at {args.full_pace / 1e6:g} MB/s"
                                       if args.full_pace else "unpaced") + ", ran to the end "
        "alone and its bytes were checked against the file's sha256 (every MiB of the file "
        "differs). For the interleaved rounds all the servers ran at once pinned to core "
        f"{cost.SERVER_CORE} and the clients (curl to /dev/null; ab: HTTP/1.0, one connection "
        f"per request) to core {cost.CLIENT_CORE}. In each round every figure was taken in a "
        "palindrome of turns (A B C D E E D C B A, reversed in every other round): each server "
        "had two half runs (two downloads of 1 GiB; two ab runs of "
        f"{max(1, args.requests // 2):,} requests) centred on the same moment, so the large "
        "drifts of a shared host's speed fall on all of them alike; a server's figure for the "
        "round is its work over its time, and a ratio is the median of the rounds' ratios. "
        + ("" if not busy else f"In {busy} of {args.rounds} rounds the machine was still busy "
           "with other work when the round began. ") +
        "System calls and CPU per request come from `bench/syscalls.sh` run with "
        "SERVE_OPTIONS=--concurrent and WINDOW_SETTINGS=Concurrent=1 "
        f"({args.cost_rounds} round{'s' if args.cost_rounds != 1 else ''} of "
        f"{args.cost_requests:,} requests, tarvel-serve without the option as another row"
        + (f", report in {os.path.relpath(args.cost_md, os.path.dirname(args.md or '.'))}"
           if args.cost_md else "") + "). nginx runs one worker with sendfile on; python3's "
        "http.server is its ThreadingHTTPServer (a thread a connection), listening with "
        "socketserver's backlog of 5, so of many connects at once most wait for the kernel's "
        "retries. The goals are "
        "tarvel's with the option on; the other columns are for comparison.", 99)
    report = f"""# Several visitors at once

Measured {time.strftime('%Y-%m-%d %H:%M', time.localtime(started))} on {os.cpu_count()} cores
(`nproc` {len(os.sched_getaffinity(0))}, {cpu_model()}), Linux {os.uname().release}, in
{(time.time() - started) / 60:.1f} minutes, by
`{args.command or ' '.join(['bench/concurrent.py'] + sys.argv[1:])}`, on the build in
{args.build} (its source folder: {cost.build_source(args.build)}).

{method}

{body}
"""
    if args.md:
        with open(args.md, "w") as f:
            f.write(report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
