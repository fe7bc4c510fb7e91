#!/usr/bin/env python3
"""Visitors' uploads, side by side in one run on loopback: tarvel-serve --upload
beside nginx (one worker) with `dav_methods PUT`, and the window program with
Upload=1 when asked for (--servers). Parts:
  big    one upload of --size bytes (2 GiB) by PUT (curl -T) to each server and by
         form (curl -F) to tarvel-serve, in --rounds rounds whose order turns
         around every other round; each upload goes to a server started afresh,
         pinned to core 0, curl pinned to core 1: the throughput, its ratio to
         nginx's PUT in the same round, the server's resident memory (VmRSS
         sampled every 20 ms, VmHWM at the end) and the stored file's sha256
  paced  --uploads (4) uploads paced at --pace (5 MB/s) by curl --limit-rate from
         127.0.0.2..5 to tarvel-serve --concurrent --upload (and to the others),
         while a normal client (bench/swarm.py's) asks for the 1 KiB page every
         200 ms: the share of its answers within 10 ms, p50/p95/p99, and each
         upload's answer, rate and bytes
The source files are written in the scratch folder (--scratch, on a disk with
room: checked first), every MiB different, so a misplaced piece changes the
sha256. Writes the Markdown report (--md) and prints it. Exits 0 whatever the
figures: it measures, it does not judge.

    upload.py --build BUILD_DIR [--size 2G] [--rounds 5] [--parts big,paced]
              [--servers serve,nginx[,window]] [--seconds 20] [--pace 5000000]
              [--scratch DIR] [--md FILE]
"""
import argparse
import hashlib
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (the servers, the scratch root, quiet waits, distinct files)
import concurrent  # noqa: E402  (memory of a process tree, a start that tries twice)
import cost  # noqa: E402  (pinning, Markdown tables, the commit measured)
import swarm  # noqa: E402  (the normal client and its percentiles)

KIB, MIB, GIB = 1024, 1 << 20, 1 << 30
PARTS = ["big", "paced"]
SERVE, WINDOW, NGINX = "serve", "window", "nginx"
SERVER_KEYS = [SERVE, WINDOW, NGINX]
TARVEL_FOLDER, NGINX_FOLDER = "up", "dav"  # where uploads go, under the root
SAMPLE = 0.02  # seconds between memory samples during a big upload
MEMORY_GOAL = 32 * MIB  # tarvel-serve's resident memory during the big upload
WINDOW_GROWTH_GOAL = 8 * MIB  # the window's growth during it
RATIO_GOAL = 0.8  # of nginx's PUT throughput
QUICK, QUICK_SHARE = 0.010, 0.95  # the normal client's goal beside the paced uploads
# The answers that mean stored, by server and way.
STORED = {(SERVE, "put"): "201", (SERVE, "form"): "303", (WINDOW, "put"): "201",
          (NGINX, "put"): "201"}


def parse_size(text):
    """Bytes from "2G", "512M", "100K" (binary units) or a plain count."""
    found = re.fullmatch(r"\s*(\d+)\s*([KMG]?)(?:iB|B)?\s*", text, re.IGNORECASE)
    if not found:
        raise argparse.ArgumentTypeError(f"not a size: {text!r} (e.g. 2G, 512M)")
    return int(found.group(1)) * {"": 1, "K": KIB, "M": MIB, "G": GIB}[found.group(2).upper()]


def size_text(size):
    for unit, name in ((GIB, "GiB"), (MIB, "MiB"), (KIB, "KiB")):
        if size >= unit and size % unit == 0:
            return f"{size // unit} {name}"
    return f"{size:,} bytes"


def mib(kib):
    return f"{kib / KIB:.1f} MiB"


# ---------------------------------------------------------------- the servers

def nginx_directives(scratch):
    """PUT stored by nginx's dav module, any length, its temporary body on the root's
    file system so storing is a rename, as it is for Tarvel."""
    body = os.path.join(scratch, "nginx-body")
    os.makedirs(body, exist_ok=True)
    os.chmod(body, 0o777)  # the worker runs as nobody when started as root
    return (f"        client_max_body_size 0;\n"
            f"        client_body_temp_path {body};\n"
            f"        location /{NGINX_FOLDER}/ {{\n"
            f"            dav_methods PUT;\n"
            f"            dav_access user:rw group:r all:r;\n"
            f"        }}")


def make_servers(build, root, scratch, keys, concurrently):
    """{key: bench.Server} of the keys that are built, uploads on (and several at once
    when concurrently), each with its title."""
    serve_options = ["--concurrent", "--upload"] if concurrently else ["--upload"]
    settings = ["Concurrent=1", "Upload=1"] if concurrently else ["Upload=1"]
    found = bench.make_servers(argparse.Namespace(
        build=build, also=[], serve_options=serve_options, window_settings=settings,
        nginx_directives=nginx_directives(scratch)), root, scratch)
    names = {SERVE: cost.SERVE, WINDOW: cost.WINDOW, NGINX: cost.NGINX}
    titles = {SERVE: " ".join([cost.SERVE, *serve_options]),
              WINDOW: f"{cost.WINDOW}, {', '.join(settings)}",
              NGINX: "nginx (1 worker, dav_methods PUT)"}
    servers = {}
    for key in keys:
        server = next((s for s in found if s.name == names[key]), None)
        if server is None:
            print(f"upload: {titles[key]} is not built; left out", file=sys.stderr)
            continue
        server.name = titles[key]
        servers[key] = server
    return servers


def folder_of(key):
    return NGINX_FOLDER if key == NGINX else TARVEL_FOLDER


# ---------------------------------------------------------------- one upload

def curl_upload(port, key, how, source, name, limit, prefix=(), extra=()):
    """curl's command for one upload of source: "put" to the folder's name, "form" to
    the folder (one multipart part, its file name name). curl asks with
    Expect: 100-continue, as it does for any body over 1 MiB."""
    url = f"http://127.0.0.1:{port}/{folder_of(key)}/"
    command = [*prefix, "curl", "-sS", "--max-time", f"{limit:g}", "-o", "/dev/null",
               "-w", "%{http_code} %{size_upload} %{time_total}\\n%{header_json}", *extra]
    if how == "put":
        return command + ["-T", source, url + name]
    return command + ["-F", f"file=@{source};filename={name}", url]


def read_curl(out):
    """(status, bytes sent, seconds, Location or None) from curl_upload's output."""
    first, _, headers = (out or "").partition("\n")
    fields = first.split()
    if len(fields) != 3:
        return None, 0, 0.0, None
    location = re.search(r'"location"\s*:\s*\[\s*"([^"]*)"', headers)
    # The port differs from one start to the next; the path is what tells.
    where = re.sub(r"^http://127\.0\.0\.1:\d+", "", location.group(1)) if location else None
    return fields[0], int(fields[1]), float(fields[2]), where


def sha256_of(name):
    digest = hashlib.sha256()
    with open(name, "rb") as f:
        while piece := f.read(4 * MIB):
            digest.update(piece)
    return digest.hexdigest()


def stored_check(path, size, expected):
    """(whether path holds exactly the source's bytes, what it holds)."""
    if not os.path.exists(path):
        return False, "no file stored"
    stored = os.path.getsize(path)
    if stored != size:
        return False, f"{stored:,} of {size:,} bytes stored"
    return (True, "exact") if sha256_of(path) == expected else (False, "other bytes (sha256)")


def clear_folder(root, key):
    """Empties the upload folder and flushes the dirty pages, so the next upload does
    not share the disk with the writeback of the last."""
    folder = os.path.join(root, folder_of(key))
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    os.sync()


def one_big(server, key, how, source, size, expected, root, args):
    """One big upload to server, started afresh for it: its figures."""
    concurrent.start(server, ["taskset", "-c", cost.SERVER_CORE])
    pid, name = server.process.pid, f"big-{how}.bin"
    time.sleep(0.2)  # settled after its first answer
    idle, _ = concurrent.memory_kib(pid)
    most, out, err = idle, "", ""
    try:
        client = subprocess.Popen(curl_upload(server.port, key, how, source, name, args.limit,
                                              cost.CLIENT),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                  stdin=subprocess.DEVNULL)
        while client.poll() is None:
            most = max(most, concurrent.memory_kib(pid)[0])
            time.sleep(SAMPLE)
        out, err = client.communicate()
        rss, hwm = concurrent.memory_kib(pid)
    finally:
        server.stop()
    status, sent, seconds, location = read_curl(out)
    exact, held = stored_check(os.path.join(root, folder_of(key), name), size, expected)
    clear_folder(root, key)
    if status is None:
        held += f"; curl: {err.strip()[-200:]}"
    stored = status == STORED[(key, how)] and exact
    return dict(status=status or "no answer", location=location, sent=sent, seconds=seconds,
                mbps=size / seconds / 1e6 if stored and seconds else None,
                idle=idle, rss=max(most, rss), hwm=hwm, exact=exact, held=held)


def big_part(servers, source, size, expected, root, args):
    """{(key, how): [each round's figures]}, and how many rounds began busy."""
    turns = [(k, h) for k, h in ((SERVE, "put"), (SERVE, "form"), (WINDOW, "put"),
                                 (NGINX, "put")) if k in servers]
    found, busy = {turn: [] for turn in turns}, 0
    for number in range(1, args.rounds + 1):
        busy += not bench.wait_for_quiet(args.quiet_wait)
        for key, how in turns if number % 2 else turns[::-1]:
            print(f"upload: round {number}/{args.rounds}: {servers[key].name}, {how} of "
                  f"{size_text(size)}", flush=True)
            row = one_big(servers[key], key, how, source, size, expected, root, args)
            found[(key, how)].append(row)
            rate = "—" if row["mbps"] is None else f"{row['mbps']:.0f}"
            print(f"upload:   {row['status']}, {rate} MB/s in {row['seconds']:.1f} s, VmRSS "
                  f"at most {mib(row['rss'])}, VmHWM {mib(row['hwm'])}, {row['held']}",
                  flush=True)
    return found, busy


# ---------------------------------------------------------------- paced uploads

def one_paced(server, key, source, size, expected, root, args):
    """args.uploads paced uploads beside the normal client, server started afresh."""
    concurrent.start(server)
    pid = server.process.pid
    limit = size / args.pace * 2 + 30
    uploads, normal, peaks = [], None, []
    try:
        for i in range(args.uploads):
            extra = ["--interface", f"127.0.0.{2 + i}", "--limit-rate", f"{args.pace:.0f}"]
            uploads.append(subprocess.Popen(
                curl_upload(server.port, key, "put", source, f"paced-{i + 1}.bin", limit,
                            extra=extra),
                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                stdin=subprocess.DEVNULL))
        time.sleep(args.ramp)  # their heads judged and their bodies under way
        normal = swarm.start_normal_client(server.port, args.seconds, args.timeout)
        end = time.monotonic() + args.seconds + args.timeout + 15
        while normal.poll() is None and time.monotonic() < end:
            peaks.append(concurrent.memory_kib(pid)[0])
            time.sleep(0.5)
        results = swarm.collect(normal, args.timeout + 15)
        outs = [u.communicate(timeout=limit + 10) for u in uploads]
        rss, hwm = concurrent.memory_kib(pid)
        alive = server.process.poll() is None
    finally:
        for process in uploads + ([normal] if normal else []):
            if process.poll() is None:
                process.kill()
                process.wait()
        server.stop()
    answers = [read_curl(out) for out, _ in outs]
    held = [stored_check(os.path.join(root, folder_of(key), f"paced-{i + 1}.bin"), size,
                         expected) for i in range(args.uploads)]
    clear_folder(root, key)
    return dict(results=results, answers=answers, held=held, rss=max(peaks + [rss]), hwm=hwm,
                alive=alive, errors=[err.strip()[-200:] for _, err in outs if err.strip()])


def paced_part(servers, source, size, expected, root, args):
    found = {}
    for key, server in servers.items():
        print(f"upload: {args.uploads} uploads at {args.pace / 1e6:g} MB/s to {server.name} "
              f"beside the normal client, {args.seconds:g} s", flush=True)
        found[key] = row = one_paced(server, key, source, size, expected, root, args)
        figures = client_figures(row["results"])
        print(f"upload:   {figures['quick']:.0%} within {QUICK * 1000:.0f} ms, p95 "
              f"{concurrent.ms(figures['p95'])}; uploads "
              f"{', '.join(a[0] or 'no answer' for a in row['answers'])}", flush=True)
    return found


def client_figures(results):
    """The normal client's share of whole answers within QUICK and its percentiles; a
    fetch without a whole answer counts as its time-out (beyond QUICK)."""
    times = [t for t, _ in results]
    if not times:
        return dict(quick=0.0, p50=None, p95=None, p99=None, max=None, answers="none")
    quick = sum(o == "ok" and t <= QUICK for t, o in results) / len(results)
    answers, _, _, _ = swarm.latency_cells(results)
    return dict(quick=quick, p50=swarm.percentile(times, 0.50), p95=swarm.percentile(times, 0.95),
                p99=swarm.percentile(times, 0.99), max=max(times), answers=answers)


# ---------------------------------------------------------------- the report

def verdict(value, passes):
    return "—" if value is None else "PASS" if passes(value) else "MISS"


def rounds_cell(values, fmt):
    shown = [v for v in values if v is not None]
    if not shown:
        return "—"
    text = fmt.format(statistics.median(shown))
    if len(values) > 1:
        text += " (" + ", ".join("—" if v is None else fmt.format(v) for v in values) + ")"
    return text


def big_table(found, servers, args):
    columns = list(found)
    titles = [f"{servers[k].name}, {'PUT (curl -T)' if h == 'put' else 'form (curl -F)'}"
              for k, h in columns]
    nginx = found.get((NGINX, "put"))
    tarvel = [c for c in columns if c[0] != NGINX]

    def ratios(column):
        if not nginx:
            return None
        return [a["mbps"] / b["mbps"] if a["mbps"] and b["mbps"] else None
                for a, b in zip(found[column], nginx)]

    def statuses(rows):
        kinds = {}
        for r in rows:
            what = r["status"] + (f", Location {r['location']}" if r["location"] else "")
            kinds[what] = kinds.get(what, 0) + 1
        return "; ".join(f"{n} × {w}" for w, n in kinds.items())

    rows = [("answers", {c: statuses(found[c]) for c in columns}, None, {}),
            ("throughput, median (MB/s; each round)",
             {c: rounds_cell([r["mbps"] for r in found[c]], "{:.0f}") for c in columns}, None, {}),
            ("÷ nginx's PUT in the same round, median (each round)",
             {c: rounds_cell(ratios(c), "{:.2f}") for c in tarvel if ratios(c)},
             f"≥ {RATIO_GOAL}", {c: verdict(median_of(ratios(c)), lambda v: v >= RATIO_GOAL)
                                 for c in tarvel}),
            ("resident memory before the upload (VmRSS)",
             {c: mib(max(r["idle"] for r in found[c])) for c in columns}, None, {}),
            ("resident memory during the upload, most sampled (VmRSS, every 20 ms)",
             {c: mib(max(r["rss"] for r in found[c])) for c in columns},
             f"tarvel-serve < {MEMORY_GOAL // MIB} MiB",
             {c: verdict(max(r["rss"] for r in found[c]), lambda v: v < MEMORY_GOAL / KIB)
              for c in columns if c[0] == SERVE}),
            ("resident memory, high-water mark (VmHWM)",
             {c: mib(max(r["hwm"] for r in found[c])) for c in columns},
             f"tarvel-serve < {MEMORY_GOAL // MIB} MiB",
             {c: verdict(max(r["hwm"] for r in found[c]), lambda v: v < MEMORY_GOAL / KIB)
              for c in columns if c[0] == SERVE})]
    if (WINDOW, "put") in found:
        growth = max(r["hwm"] - r["idle"] for r in found[(WINDOW, "put")])
        rows.append(("growth during the upload (VmHWM − VmRSS before)",
                     {(WINDOW, "put"): mib(growth)}, f"window < {WINDOW_GROWTH_GOAL // MIB} MiB",
                     {(WINDOW, "put"): verdict(growth, lambda v: v < WINDOW_GROWTH_GOAL / KIB)}))
    rows.append(("the stored file",
                 {c: exact_text([(r["exact"], r["held"]) for r in found[c]]) for c in columns},
                 "exact bytes", {c: "PASS" if all(r["exact"] for r in found[c]) else "MISS"
                                 for c in tarvel}))
    short = {(SERVE, "put"): "PUT", (SERVE, "form"): "form", (WINDOW, "put"): "window"}
    return judged_table(columns, titles, {c: short[c] for c in tarvel}, rows)


def median_of(values):
    shown = [v for v in values or [] if v is not None]
    return statistics.median(shown) if shown else None


def exact_text(checks):
    good = sum(ok for ok, _ in checks)
    text = f"exact sha256 in {good} of {len(checks)}"
    wrong = [held for ok, held in checks if not ok]
    return text + (f" ({'; '.join(dict.fromkeys(wrong))})" if wrong else "")


def judged_table(columns, titles, judged, rows):
    """rows: (figure, {column: cell}, goal, {column: PASS/MISS}), verdicts for judged
    ({column: its short name})."""
    header = ["figure"] + titles + ["goal", "verdict (" + " / ".join(judged.values()) + ")"]
    lines = []
    for figure, cells, goal, verdicts in rows:
        shown = " / ".join(verdicts.get(c, "—") for c in judged) if goal else ""
        lines.append([figure] + [cells.get(c, "—") for c in columns] + [goal or "", shown])
    return cost.markdown(header, lines)


def paced_table(found, servers, size, args):
    columns = list(found)
    titles = [servers[k].name for k in columns]
    judged = [k for k in columns if k != NGINX]
    clients = {k: client_figures(found[k]["results"]) for k in columns}

    def upload_statuses(row):
        kinds = {}
        for status, _, _, _ in row["answers"]:
            kinds[status or "no answer"] = kinds.get(status or "no answer", 0) + 1
        return ", ".join(f"{n} × {s}" for s, n in kinds.items())

    def rates(row):
        return " / ".join(f"{sent / seconds / 1e6:.2f}" if seconds else "—"
                          for _, sent, seconds, _ in row["answers"])

    rows = [("uploads' answers", {k: upload_statuses(found[k]) for k in columns}, None, {}),
            ("uploads' rates, sent ÷ time (MB/s each)", {k: rates(found[k]) for k in columns},
             None, {}),
            (f"uploads stored ({size / 1e6:.0f} MB each)",
             {k: exact_text(found[k]["held"]) for k in columns}, "exact bytes",
             {k: "PASS" if all(ok for ok, _ in found[k]["held"]) else "MISS" for k in judged}),
            ("normal client: whole answers", {k: clients[k]["answers"] for k in columns},
             None, {}),
            (f"normal client: answers within {QUICK * 1000:.0f} ms",
             {k: f"{clients[k]['quick']:.1%}" for k in columns}, f"≥ {QUICK_SHARE:.0%}",
             {k: verdict(clients[k]["quick"], lambda v: v >= QUICK_SHARE) for k in judged}),
            ("normal client: p50 / p95 / p99 / max",
             {k: " / ".join(concurrent.ms(clients[k][p]) for p in ("p50", "p95", "p99", "max"))
              for k in columns}, None, {}),
            ("resident memory, high-water mark (VmHWM)",
             {k: mib(found[k]["hwm"]) for k in columns}, None, {})]
    short = {SERVE: "tarvel-serve", WINDOW: "window"}
    return judged_table(columns, titles, {k: short[k] for k in judged}, rows)


# ---------------------------------------------------------------- the machine

def room_needed(size, paced_size, args, total):
    """What the run writes at most at once in the scratch folder's file system, with
    tarvel-serve's reserve (1 GiB, or 5 % of the file system if smaller) kept free."""
    reserve = min(GIB, total * 5 // 100)
    big = 2 * size if "big" in args.parts else 0  # the source and one stored copy
    paced = (1 + args.uploads) * paced_size if "paced" in args.parts else 0
    return big + paced + reserve + 512 * MIB  # bench.py's root and the probe's margin


def disk_speed(folder, size):
    """MB/s of writing size bytes to a new file in folder and fdatasync, as a note of
    what the disk under the uploads takes."""
    name = os.path.join(folder, "disk-probe.bin")
    piece = os.urandom(MIB)
    started = time.monotonic()
    with open(name, "wb") as f:
        for _ in range(size // MIB):
            f.write(piece)
        f.flush()
        os.fdatasync(f.fileno())
    spent = time.monotonic() - started
    os.remove(name)
    return size / spent / 1e6


def file_system_type(folder):
    done = subprocess.run(["stat", "-f", "-c", "%T", folder], capture_output=True, text=True)
    return done.stdout.strip() or "?"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--size", type=parse_size, default=2 * GIB,
                        help="the big upload's length (2G; 512M for a quick run)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--parts", default=",".join(PARTS))
    parser.add_argument("--servers", default="serve,nginx",
                        help="of serve, window (Upload=1 in its profile) and nginx")
    parser.add_argument("--seconds", type=float, default=20,
                        help="the normal client's window beside the paced uploads")
    parser.add_argument("--uploads", type=int, default=4, help="paced uploads at once")
    parser.add_argument("--pace", type=float, default=5e6, help="bytes a second of each")
    parser.add_argument("--ramp", type=float, default=1,
                        help="seconds the paced uploads run before the window")
    parser.add_argument("--timeout", type=float, default=5,
                        help="how long the normal client waits for one answer")
    parser.add_argument("--limit", type=float, default=600,
                        help="the longest one big upload may take (curl --max-time)")
    parser.add_argument("--scratch", default=tempfile.gettempdir(),
                        help="where the files are made, on a disk with room")
    parser.add_argument("--quiet-wait", type=float, default=30)
    parser.add_argument("--md", default=None)
    parser.add_argument("--command", default="", help="the command to name in the report")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.parts = [p for p in args.parts.split(",") if p]
    keys = [k for k in args.servers.split(",") if k]
    unknown = [p for p in args.parts if p not in PARTS] + [k for k in keys
                                                           if k not in SERVER_KEYS]
    if unknown:
        parser.error(f"unknown: {', '.join(unknown)} (parts: {', '.join(PARTS)}; servers: "
                     f"{', '.join(SERVER_KEYS)})")
    keys = [k for k in SERVER_KEYS if k in keys]
    if len(os.sched_getaffinity(0)) < 2:
        sys.exit("upload.py: needs two cores, one for the servers and one for the clients")
    paced_size = int(args.pace * (args.ramp + args.seconds + 2))  # lasts past the window
    os.makedirs(args.scratch, exist_ok=True)
    space = os.statvfs(args.scratch)
    free, total = space.f_bavail * space.f_frsize, space.f_blocks * space.f_frsize
    need = room_needed(args.size, paced_size, args, total)
    if free < need:
        sys.exit(f"upload.py: {free / GIB:.1f} GiB free under {args.scratch}, the run needs "
                 f"{need / GIB:.1f} GiB; pass --size 1G (or less), or --scratch DIR on a "
                 f"larger disk")
    started = time.time()
    tempfile.tempdir = args.scratch  # bench.make_scratch makes its folder there
    scratch, root = bench.make_scratch()
    try:
        report = run(args, keys, scratch, root, paced_size, free, started)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(report)
    if args.md:
        with open(args.md, "w") as f:
            f.write(report)
    return 0


def run(args, keys, scratch, root, paced_size, free, started):
    """Makes the files, runs the parts; the report."""
    for folder, mode in ((TARVEL_FOLDER, 0o755), (NGINX_FOLDER, 0o777)):
        os.makedirs(os.path.join(root, folder))
        os.chmod(os.path.join(root, folder), mode)  # nginx's worker may be nobody
    sources = os.path.join(scratch, "sources")
    os.makedirs(sources)
    print("upload: measuring the disk, making the files", flush=True)
    probe = min(args.size, GIB)
    speed = disk_speed(sources, probe)
    sections, busy = [], 0
    if "big" in args.parts:
        big = os.path.join(sources, "big.bin")
        expected = bench.write_distinct(big, args.size)
        os.sync()
        servers = make_servers(args.build, root, scratch, keys, concurrently=False)
        found, busy = big_part(servers, big, args.size, expected, root, args)
        os.remove(big)
        sections.append((f"One upload of {size_text(args.size)}, {args.rounds} "
                         f"round{'s' if args.rounds != 1 else ''}",
                         big_table(found, servers, args)))
    if "paced" in args.parts:
        paced = os.path.join(sources, "paced.bin")
        expected = bench.write_distinct(paced, paced_size)
        os.sync()
        servers = make_servers(args.build, root, scratch, keys, concurrently=True)
        found = paced_part(servers, paced, paced_size, expected, root, args)
        sections.append((f"{args.uploads} uploads paced at {args.pace / 1e6:g} MB/s each, "
                         f"{args.seconds:g} s", paced_table(found, servers, paced_size, args)))
    body = "\n\n".join(f"## {title}\n\n{text}" for title, text in sections)
    return f"""# Visitors' uploads

Measured {time.strftime('%Y-%m-%d %H:%M', time.localtime(started))} on {os.cpu_count()} cores
(`nproc` {len(os.sched_getaffinity(0))}, {concurrent.cpu_model()}), Linux {os.uname().release}, in
{(time.time() - started) / 60:.1f} minutes, by
`{args.command or ' '.join(['bench/upload.py'] + sys.argv[1:])}`, on the build in
{args.build} (its source folder: {cost.build_source(args.build)}).

{method(args, paced_size, free, speed, probe, file_system_type(scratch), busy)}

{body}
"""


def method(args, paced_size, free, speed, probe, fs_type, busy):
    text = (
        f"The files were made in {args.scratch} ({fs_type}, {free / GIB:.0f} GiB free), on a "
        f"disk that wrote {speed:.0f} MB/s ({size_text(probe)} written, then fdatasync, "
        "before the run). Each source file has every MiB different (its index in its first "
        "bytes), so a misplaced piece changes its sha256; each stored file was checked "
        "against it, then removed, and the dirty pages flushed (sync) before the next upload. "
        "Every server served one root on 127.0.0.1; tarvel's uploads went to a folder /"
        f"{TARVEL_FOLDER}/ of it, nginx's to /{NGINX_FOLDER}/ (dav_methods PUT, "
        "client_max_body_size 0, its temporary body in the same file system, so storing is a "
        "rename). nginx runs one worker and leaves the body in the page cache for the kernel to "
        "write out later; Tarvel has it written out as it arrives and flushed before it names "
        "the file, so the disk's speed counts in its time.")
    if "big" in args.parts:
        text += (
            f" For the big upload each server was started afresh for each upload, pinned to "
            f"core {cost.SERVER_CORE}, and curl (its Expect: 100-continue, the body from the "
            f"page cache) to core {cost.CLIENT_CORE}; throughput is the length over curl's "
            "time_total, from connect to the whole answer; the ratio is the median of the "
            "rounds' ratios to nginx's PUT of the same round. The order of the servers turned "
            "around every other round" + (f"; {busy} of {args.rounds} rounds began while the "
                                          "machine was still busy with other work"
                                          if busy else "") +
            ". Resident memory is the sum over the server's processes (nginx's master and "
            "worker): VmRSS every 20 ms during the upload, and VmHWM at its end (the process "
            "lived for that upload alone); the page cache is not in it.")
    if "paced" in args.parts:
        text += (
            f" For the paced part each server was started afresh, unpinned, with several "
            f"visitors at once on (tarvel); {args.uploads} curl -T uploads of "
            f"{paced_size / 1e6:.0f} MB each, from 127.0.0.2..{1 + args.uploads}, paced by "
            f"--limit-rate {args.pace:.0f}, ran {args.ramp:g} s before the normal client "
            "(bench/swarm.py's, a process of its own) began: a fresh HTTP/1.0 connection on "
            f"127.0.0.1 every 200 ms for {args.seconds:g} s, timed to the last byte of the 1 KiB "
            f"page; a fetch without a whole 200 answer within {args.timeout:g} s counts as "
            f"{args.timeout:g} s; percentiles are nearest-rank. The uploads last beyond the "
            "window and ran to their end; their rates are curl's bytes sent over its time.")
    return textwrap.fill(text, 99)


if __name__ == "__main__":
    sys.exit(main())
