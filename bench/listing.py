#!/usr/bin/env python3
"""Folder listings side by side, in one run on loopback: tarvel-serve --list, the
window program (Qt's offscreen platform, ListFolders=1 in its profile), nginx
(one worker, autoindex on) and python3 -m http.server, listing a folder of
1,000 and one of 10,000 entries. Every server is pinned to core 0 and every
client (ab: HTTP/1.0, one connection per request; curl) to core 1. Measured for
each folder, at -c 1 and -c 4, the servers taking turns within each round and
each figure the median of --rounds rounds:
  - requests per second;
  - server CPU per listing: utime+stime of the server's processes
    (/proc/PID/stat, nginx's master and worker) over the run, per request;
  - the page's size.
A run has at most --requests-1k or --requests-10k requests, fewer when a
warm-up says the server would take over --seconds seconds for them.
Then the time of one listing (curl's time_total, median of --single-fetches)
of the 10,000-entry folder, and with --huge of a 100,000-entry one, by
tarvel-serve and nginx, with their resident memory after it.
Writes the Markdown report (--md) and prints it.

    listing.py --build BUILD_DIR [--rounds 3] [--huge] [--md FILE] [--also LABEL=PATH]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (the servers and ab)
import cost  # noqa: E402  (pinning, CPU of a process tree, report helpers)

PYTHON = "python3 http.server"
HUGE = 100_000
CONCURRENCY = (1, 4)
MIN_REQUESTS = 20  # a run shorter than this says little about the rate or the CPU
SUBFOLDERS = 5


def entry_name(index):
    """Names as a camera, a scanner and a person give them: mostly photos, some with
    blanks, some with UTF-8; the index makes each one unique."""
    if index % 10 == 0:
        return f"Scan {index:06d} from the archive.pdf"
    if index % 10 == 5:
        return f"Überblick über Zürich – {index:06d}.png"
    return photo_name(index)


def photo_name(index):
    """A plain ASCII name: every server puts it into its links as it is, so the
    check below can find it on any of their pages."""
    seconds = index * 37
    return (f"IMG_2026{1 + index % 12:02d}{1 + index % 28:02d}_"
            f"{seconds // 3600 % 24:02d}{seconds // 60 % 60:02d}{seconds % 60:02d}_{index:06d}.jpg")


def make_folder(root, entries, generator):
    """A folder of `entries` entries, SUBFOLDERS of them folders, the files sparse
    (sizes from a few KB to tens of MB, no disk spent) with dates over two years;
    returns its request path."""
    path = f"/d{entries}/"
    folder = os.path.join(root, path.strip("/"))
    os.makedirs(folder)
    now = time.time()
    for index in range(entries - SUBFOLDERS):
        name = os.path.join(folder, entry_name(index))
        with open(name, "wb") as f:
            f.truncate(int(generator.lognormvariate(12, 2)) % (64 << 20))
        stamp = now - generator.uniform(0, 2 * 365 * 86400)
        os.utime(name, (stamp, stamp))
    for index in range(SUBFOLDERS):
        os.mkdir(os.path.join(folder, f"Album {2026 - index} – Ferien"))
    for dirpath, dirnames, filenames in os.walk(folder):
        for name in dirnames:
            os.chmod(os.path.join(dirpath, name), 0o755)
        for name in filenames:
            os.chmod(os.path.join(dirpath, name), 0o644)
    os.chmod(folder, 0o755)
    return path


def make_root(folder_sizes):
    """A scratch folder holding the served root: page-1k.htm (the page bench.Server
    waits for) and one folder per size; returns scratch, root, {entries: path}."""
    scratch = tempfile.mkdtemp(prefix="tarvel-listing-")
    os.chmod(scratch, 0o755)  # nginx's worker runs as nobody and must read the root
    root = os.path.join(scratch, "root")
    os.makedirs(root)
    os.chmod(root, 0o755)
    page = os.path.join(root, "page-1k.htm")
    with open(page, "wb") as f:
        f.write(b"<!DOCTYPE html><html><body><p>" + b"x" * 980 + b"</p></body></html>\n")
    os.chmod(page, 0o644)
    generator = random.Random(20261208)  # the same folders in every run
    folders = {}
    for entries in folder_sizes:
        print(f"listing: making a folder of {entries:,} entries", flush=True)
        folders[entries] = make_folder(root, entries, generator)
    return scratch, root, folders


def with_list_option(start):
    """tarvel-serve's start with --list before its ROOT."""
    def listing_start(port):
        argv, env = start(port)
        return [argv[0], "--list", *argv[1:]], env
    return listing_start


def with_list_folders_key(start):
    """The window's start with ListFolders=1 added to the profile it writes."""
    def listing_start(port):
        argv, env = start(port)
        profile = os.path.join(env["XDG_CONFIG_HOME"], "tarvel.INI")
        with open(profile) as f:
            text = f.read()
        # Appended, the key lands in the last section: it must be [Defaults].
        if not text.rsplit("[", 1)[-1].startswith("Defaults]"):
            raise RuntimeError(f"{profile} does not end in its [Defaults] section")
        with open(profile, "a") as f:
            f.write("ListFolders=1\n")
        return argv, env
    return listing_start


def with_autoindex(start):
    """nginx's start with autoindex on in the server block it configures."""
    def listing_start(port):
        argv, env = start(port)
        config = argv[argv.index("-c") + 1]
        with open(config) as f:
            text = f.read()
        if text.count("index index.htm;") != 1:
            raise RuntimeError(f"{config}: no single index line to put autoindex after")
        with open(config, "w") as f:
            f.write(text.replace("index index.htm;", "index index.htm;\n        autoindex on;"))
        return argv, env
    return listing_start


def make_servers(build, also, root, scratch):
    """bench.py's servers, each made to list folders; lighttpd is left out. also: more
    tarvel-serve binaries as LABEL=PATH (another build of it, to compare in the same run)."""
    adapt = {cost.WINDOW: with_list_folders_key, cost.SERVE: with_list_option,
             cost.NGINX: with_autoindex, PYTHON: lambda start: start}
    adapt.update({label.split("=", 1)[0]: with_list_option for label in also})
    servers = []
    for server in bench.make_servers(argparse.Namespace(build=build, also=also), root, scratch):
        if server.name in adapt:
            server._start = adapt[server.name](server._start)
            server.prefix = ["taskset", "-c", cost.SERVER_CORE]
            servers.append(server)
    return servers


def start(server):
    """Starts server, once more on another port if it fails; a second failure carries
    what the server printed."""
    log = os.path.join(server.scratch, f"{server.name.split()[0]}.log")
    try:
        server.start()
    except RuntimeError as failure:
        server.stop()
        print(f"listing: {failure}; once more", file=sys.stderr, flush=True)
        try:
            server.start()
        except RuntimeError:
            with open(log, errors="replace") as f:
                raise RuntimeError(f"{server.name} did not start; it printed:\n{f.read()}")


def fetch_page(port, path, entries):
    """The page's size after checking it is a 200 that lists the folder: its first and
    last photo among its links and room for every entry."""
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=30) as answer:
        status, page = answer.status, answer.read()
    wanted = [photo_name(1), photo_name(entries - SUBFOLDERS - 1)]
    missing = [name for name in wanted if name.encode() not in page]
    if status != 200 or missing or len(page) < 40 * entries:
        raise RuntimeError(f"{path} on port {port}: status {status}, {len(page):,} bytes, "
                           f"without {missing}")
    return len(page)


def load_run(server, path, concurrency, most, seconds):
    """(requests per second, server CPU per listing in ms, requests, whole) of one ab run
    of at most `most` requests, as many as a warm-up says fit in `seconds` (at least
    MIN_REQUESTS)."""
    warm = max(concurrency * 2, most // 50)
    rate, _, warm_ok = bench.ab(server.port, path, warm, concurrency, cost.CLIENT)
    requests = max(MIN_REQUESTS, min(most, int(rate * seconds)))
    before = cost.cpu_seconds(server.process.pid)
    rate, _, ok = bench.ab(server.port, path, requests, concurrency, cost.CLIENT)
    spent = cost.cpu_seconds(server.process.pid) - before
    return rate, spent * 1000 / requests, requests, warm_ok and ok


def one_round(servers, loads, args, round_number, results, turns):
    """Every load on every server, the servers running at once (an idle one costs
    nothing) and taking turns within each load; the order turns by one each round,
    so no server always goes first after another's load."""
    shift = (round_number - 1) % len(servers)
    order = servers[shift:] + servers[:shift]
    busy = 0
    try:
        for server in servers:
            start(server)
        for entries, path, concurrency, most in loads:
            for server in order:
                quiet = bench.wait_for_quiet(args.quiet_wait)
                busy += not quiet
                key = (entries, server.name)
                results.setdefault(key, {}).setdefault("size", fetch_page(server.port, path,
                                                                          entries))
                rate, cpu_ms, requests, ok = load_run(server, path, concurrency, most,
                                                      args.seconds)
                figures = results[key]
                figures.setdefault(f"rate_c{concurrency}", []).append(rate)
                figures.setdefault(f"cpu_c{concurrency}", []).append(cpu_ms)
                if not ok:
                    figures["incomplete"] = True
                turns.append([str(round_number), f"{entries:,}", str(concurrency),
                              server.name + ("" if quiet else " (busy)") +
                              ("" if ok else " (incomplete answers!)"),
                              f"{requests:,}", f"{rate:.1f}", f"{cpu_ms:.2f}"])
                print("listing: " + " | ".join(turns[-1]), flush=True)
    finally:
        for server in servers:
            server.stop()
    return busy


def single_listings(servers, folders, args):
    """{(entries, server name): (ms of one listing, RSS in MiB after it)} for tarvel-serve,
    the --also binaries and nginx: the median of --single-fetches curl fetches, one at a time."""
    timed = {}
    for server in [s for s in servers if s.name in single_names(args)]:
        start(server)
        try:
            for entries, path in folders.items():
                if entries < 10_000:
                    continue
                fetch_page(server.port, path, entries)
                times = []
                for _ in range(args.single_fetches):
                    out = subprocess.run(
                        cost.CLIENT + ["curl", "-s", "-o", "/dev/null", "--max-time", "60", "-w",
                                       "%{http_code} %{time_total}",
                                       f"http://127.0.0.1:{server.port}{path}"],
                        capture_output=True, text=True, timeout=90).stdout.split()
                    if out[0] != "200":
                        raise RuntimeError(f"{server.name}: {path} answered {out[0]}")
                    times.append(float(out[1]) * 1000)
                timed[(entries, server.name)] = (statistics.median(times),
                                                 bench.rss_kib(server.process.pid) / 1024)
        finally:
            server.stop()
    return timed


def single_names(args):
    """The servers timed one listing at a time, in the order of their columns."""
    return [cost.SERVE] + [label.split("=", 1)[0] for label in args.also] + [cost.NGINX]


def median(results, key, column):
    values = results.get(key, {}).get(column)
    return statistics.median(values) if values else None


def ratio(results, entries, name, column):
    """The median over the rounds of name's figure over nginx's in the same round: the turns
    of one round's load follow each other, so each ratio is of the same state of a shared
    machine, where a ratio of medians could set one server's quiet round against another's
    busy one."""
    ours = results.get((entries, name), {}).get(column)
    theirs = results.get((entries, cost.NGINX), {}).get(column)
    if not ours or not theirs or len(ours) != len(theirs) or not all(theirs):
        return None
    return statistics.median(a / b for a, b in zip(ours, theirs))


def summary_table(results, servers, sizes):
    rows = []
    for entries in sizes:
        for server in servers:
            key = (entries, server.name)
            mark = " (incomplete answers!)" if results.get(key, {}).get("incomplete") else ""
            size = results.get(key, {}).get("size")
            rows.append([f"{entries:,}", server.name + mark,
                         cost.cell(size and size / 1024, "{:.0f}")] +
                        [cost.cell(median(results, key, f"{column}_c{c}"), fmt)
                         for c in CONCURRENCY for column, fmt in (("rate", "{:.1f}"),
                                                                  ("cpu", "{:.2f}"))] +
                        [cost.cell(ratio(results, entries, server.name, f"rate_c{c}"), "{:.2f}")
                         for c in CONCURRENCY])
    header = (["entries", "server", "page (KiB)"] +
              [title for c in CONCURRENCY for title in
               (f"-c {c} (req/s)", f"-c {c} server CPU per listing (ms)")] +
              [f"-c {c} rate / nginx's" for c in CONCURRENCY])
    return cost.markdown(header, rows)


def goals(results, sizes):
    """(goal, measured, PASS/FAIL) rows: each Tarvel program's rate at least nginx's."""
    rows = []
    for entries in sizes:
        for name in (cost.SERVE, cost.WINDOW):
            for c in CONCURRENCY:
                value = ratio(results, entries, name, f"rate_c{c}")
                goal = f"{name}: {entries:,} entries, -c {c}, requests per second / nginx's ≥ 1"
                rows.append([goal, "not measured", "FAIL"] if value is None else
                            [goal, f"{value:.2f}", "PASS" if value >= 1 else "FAIL"])
    return rows


def single_table(timed, folders, names):
    rows = []
    for entries in sorted(e for e in folders if e >= 10_000):
        cells = [f"{entries:,}"]
        for name in names:
            ms, rss = timed.get((entries, name), (None, None))
            cells += [cost.cell(ms, "{:.1f}"), cost.cell(rss, "{:.1f}")]
        rows.append(cells)
    return cost.markdown(["entries"] + [title for name in names for title in
                                        (f"{name}: one listing (ms)", f"{name}: RSS after it (MiB)")],
                         rows)


def cpu_model():
    with open("/proc/cpuinfo") as f:
        names = [line.split(":", 1)[1].strip() for line in f if line.startswith("model name")]
    return names[0] if names else "?"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--requests-1k", type=int, default=2000)
    parser.add_argument("--requests-10k", type=int, default=200)
    parser.add_argument("--seconds", type=float, default=4,
                        help="what one run may take at the most, past MIN_REQUESTS requests")
    parser.add_argument("--single-fetches", type=int, default=9)
    parser.add_argument("--huge", action="store_true",
                        help=f"also time one listing of a folder of {HUGE:,} entries")
    parser.add_argument("--md", default=None)
    parser.add_argument("--quiet-wait", type=float, default=10)
    parser.add_argument("--command", default="", help="the command to name in the report")
    parser.add_argument("--also", action="append", default=[], metavar="LABEL=PATH",
                        help="another tarvel-serve binary to run beside the others, e.g. the "
                             "build of an earlier commit")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)  # the servers start in a scratch folder
    if len(os.sched_getaffinity(0)) < 2:
        sys.exit("listing.py: needs two cores, one for the servers and one for the clients")
    started = time.time()

    sizes = [1000, 10_000]
    scratch, root, folders = make_root(sizes + ([HUGE] if args.huge else []))
    loads = [(entries, folders[entries], c, most)
             for entries, most in zip(sizes, (args.requests_1k, args.requests_10k))
             for c in CONCURRENCY]
    servers = make_servers(args.build, args.also, root, scratch)
    results, turns, busy = {}, [], 0
    try:
        for round_number in range(1, args.rounds + 1):
            busy += one_round(servers, loads, args, round_number, results, turns)
        timed = single_listings(servers, folders, args)
    finally:
        for server in servers:
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)

    goal_rows = goals(results, sizes)
    passed = sum(result == "PASS" for _, _, result in goal_rows)
    quiet_note = ("the machine was quiet for every turn" if busy == 0 else
                  f"in {busy} of {len(turns)} turns it was still busy with other work (marked "
                  "under Each turn)")
    plural = "" if args.rounds == 1 else "s"
    method = textwrap.fill(
        f"Each server ran pinned to core {cost.SERVER_CORE} (`taskset`) and listed two folders "
        f"of the same root on 127.0.0.1, one of 1,000 and one of 10,000 entries ({SUBFOLDERS} of "
        "them folders; the files sparse, of a few KB to tens of MB, named like "
        f"`{photo_name(1)}`, one in ten with blanks and one in ten with UTF-8); the clients, "
        "`ab` (HTTP/1.0, one connection per request) and `curl`, ran pinned to core "
        f"{cost.CLIENT_CORE}. The servers ran at once and took turns for each load (folder and "
        "concurrency), their order turning by one each round. A run was at most "
        f"{args.requests_1k:,} requests of the 1,000-entry folder or {args.requests_10k:,} of "
        "the 10,000-entry one, fewer (but at least "
        f"{MIN_REQUESTS}) when a warm-up run said they would take over {args.seconds:g} s. "
        "Server CPU per listing is the growth of utime+stime (`/proc/PID/stat`, every process "
        "and thread of the server, nginx's master and worker) over the run, divided by its "
        f"requests. Each figure is the median of {args.rounds} round{plural}, and each rate / "
        "nginx's the median of the rounds' ratios (a round's turns of one load follow each "
        "other, so each ratio compares the same state of the machine); before each turn "
        f"the script waited (up to {args.quiet_wait:.0f} s) for the processors to be at least "
        f"85% idle: {quiet_note}. Every page was checked to be a 200 listing the folder, and "
        "every `ab` run to have no failed and no non-2xx answers. nginx runs one worker with "
        "autoindex on, sendfile on, keepalive_timeout 0 and no access log; python's http.server "
        "logs every request to its standard error, as it does by default. The machine has two "
        "cores shared with other work and its host: figures move by 5–10 % from run to run, so "
        "compare rows of one run only.", 99)
    report = f"""# Folder listings

Measured {time.strftime('%Y-%m-%d %H:%M', time.localtime(started))} on {os.cpu_count()} cores
({cpu_model()}), Linux {os.uname().release}, in {(time.time() - started) / 60:.1f} minutes, by
`{args.command or ' '.join(['bench/listing.py'] + sys.argv[1:])}`, on the build in
{args.build} (its source folder: {cost.build_source(args.build)}).

{method}

{summary_table(results, servers, sizes)}

## Goals: {passed} of {len(goal_rows)} pass

{cost.markdown(["goal", "measured", "result"], goal_rows)}

## One listing at a time

`curl` fetched each folder {args.single_fetches} times in a row from a freshly started server;
the time is the median of its `time_total` (request to last byte), the resident memory (every
process of the server) is taken after the last fetch.{'' if args.huge else
f' The {HUGE:,}-entry folder is made and listed only with --huge.'}

{single_table(timed, folders, single_names(args))}

## Each turn

{cost.markdown(["round", "entries", "-c", "server", "requests", "req/s",
                "server CPU per listing (ms)"], turns)}
"""
    print(report)
    if args.md:
        with open(args.md, "w") as f:
            f.write(report)
    return 1 if any(figures.get("incomplete") for figures in results.values()) else 0


if __name__ == "__main__":
    sys.exit(main())
