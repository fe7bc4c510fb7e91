#!/usr/bin/env python3
"""What one request costs each server, side by side in one run on loopback:
Tarvel (tarvel-serve and the window program under Qt's offscreen platform),
nginx (one worker), lighttpd and a trivial C loop (the floor). Every server is
pinned to core 0 and every client (ab: HTTP/1.0, one connection per request)
to core 1. Measured for each, the servers taking turns within each round and
each figure the median of --rounds rounds:
  - server CPU per request: utime+stime of the server's processes
    (/proc/PID/stat, nginx's master and worker) over --requests requests of
    the 1 KiB page at -c 1, in four slices in which all the servers (running
    at once) take turns; the same runs give the 1 KiB -c 1 rate, and 64 KiB
    at -c 1 is taken in the same slices;
  - requests per second: 1 KiB at -c 8 and 100 MiB at -c 1, in each server's turn;
  - system calls per request (first round only: the count does not depend on
    noise): `strace -c -f` attached to the server's processes while
    --syscall-requests requests run at -c 1, the total divided by the requests,
    nothing subtracted; and for each Tarvel program the calls of one request.
Writes the Markdown report (--md) and prints it.

    cost.py --build BUILD_DIR --trivial TRIVIAL_BINARY [--rounds 3] [--md FILE]
            [--also LABEL=TARVEL_SERVE_BINARY]... [--serve-options "--concurrent"]
            [--window-settings "Concurrent=1"] [--json FILE]
--serve-options go before tarvel-serve's ROOT and --window-settings (Key=value,
space-separated) into the window's profile; an --also binary runs without them,
so it can stand for the option off. --json writes every server's medians and
calls by call for another script to report.
"""
import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import textwrap
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (the servers, ab and the scratch root are shared with bench.py)

SERVER_CORE, CLIENT_CORE = "0", "1"
CLIENT = ["taskset", "-c", CLIENT_CORE]
NGINX, LIGHTTPD, TRIVIAL = "nginx (1 worker)", "lighttpd", "trivial C loop"
SERVE, WINDOW = "tarvel-serve", "tarvel (window)"
PAGE, MID, BIG = "/page-1k.htm", "/file-64k.bin", "/big.bin"

# key, column title, format; "calls" comes from the first round only
COLUMNS = [
    ("cpu_us", "server CPU per request (µs)", "{:.1f}"),
    ("calls", "system calls per request", "{:.2f}"),
    ("small_c1", "1 KiB, -c 1 (req/s)", "{:.0f}"),
    ("small_c8", "1 KiB, -c 8 (req/s)", "{:.0f}"),
    ("mid_c1", "64 KiB, -c 1 (req/s)", "{:.0f}"),
    ("big_c1", "100 MiB, -c 1 (req/s)", "{:.1f}"),
]
RATES = ["small_c1", "small_c8", "mid_c1", "big_c1"]
SLICES = 4  # the -c 1 runs of a round, in which the servers take turns


def cpu_seconds(pid):
    """utime+stime of pid and its descendants, every thread included."""
    ticks = 0
    for p in bench.tree(pid):
        try:
            with open(f"/proc/{p}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        ticks += int(fields[11]) + int(fields[12])  # fields 14 and 15 of proc(5)
    return ticks / os.sysconf("SC_CLK_TCK")


def tasks(pid):
    """Every thread of pid and its descendants."""
    found = []
    for p in bench.tree(pid):
        try:
            found += [int(t) for t in os.listdir(f"/proc/{p}/task")]
        except OSError:
            pass
    return found


class Tracer:
    """strace attached to a server's processes (all their threads) until stop()."""

    def __init__(self, pid, out, options):
        self.out = out
        argv = ["strace", "-f", "-o", out, *options]
        for p in bench.tree(pid):
            argv += ["-p", str(p)]
        self.process = subprocess.Popen(CLIENT + argv, stdin=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        watched, end = tasks(pid), time.monotonic() + 10
        while not all(self._traced(t) for t in watched):
            if self.process.poll() is not None or time.monotonic() > end:
                self.stop()
                raise RuntimeError(f"strace could not attach to {watched}")
            time.sleep(0.01)

    def _traced(self, tid):
        try:
            with open(f"/proc/{tid}/status") as f:
                return any(line.split()[1:] == [str(self.process.pid)]
                           for line in f if line.startswith("TracerPid:"))
        except OSError:
            return True  # a thread that ended needs no tracing

    def stop(self):
        """Detaches and returns what strace wrote."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
        self.process.wait(30)
        with open(self.out) as f:
            return f.read()


def parse_counts(summary):
    """{system call: calls} from strace -c's table."""
    counts = {}
    for line in summary.splitlines():
        words = line.split()
        if len(words) in (5, 6) and words[3].isdigit() and words[-1] != "total":
            counts[words[-1]] = counts.get(words[-1], 0) + int(words[3])
    return counts


def count_calls(server, args):
    """System calls per request over --syscall-requests requests at -c 1, by call."""
    tracer = Tracer(server.process.pid, os.path.join(server.scratch, "strace-count.txt"), ["-c"])
    try:
        _, _, ok = bench.ab(server.port, PAGE, args.syscall_requests, 1, CLIENT)
    finally:
        summary = tracer.stop()
    counts = parse_counts(summary)
    if not counts:
        raise RuntimeError(f"strace counted nothing for {server.name}:\n{summary}")
    return {call: n / args.syscall_requests for call, n in counts.items()}, ok


def one_request(server):
    """The system calls one request at -c 1 makes the server do, one a line."""
    tracer = Tracer(server.process.pid, os.path.join(server.scratch, "strace-one.txt"),
                    ["-s", "40"])
    try:
        _, _, ok = bench.ab(server.port, PAGE, 1, 1, CLIENT)
        time.sleep(0.3)  # the server's work after the answer: closing, waiting again
    finally:
        lines = [line for line in tracer.stop().splitlines() if line.strip()]
    if len({line.split()[0] for line in lines}) == 1:  # one thread: the pid says nothing
        lines = [line.split(None, 1)[1] for line in lines]
    return lines, ok


def interleaved_runs(servers, args):
    """Server CPU per request with the 1 KiB -c 1 rate, and the 64 KiB -c 1 rate, of every
    server for one round, as {name: (figures, whether every answer was whole)}. The servers run
    at once (an idle one costs nothing) and take turns in SLICES short runs of each, so a spell
    of noise from elsewhere on the machine or its host falls on all of them alike, not on one
    server's turn."""
    per_slice = args.requests // SLICES
    cpu = {s.name: 0.0 for s in servers}
    seconds = {s.name: {"small_c1": 0.0, "mid_c1": 0.0} for s in servers}
    whole = {s.name: True for s in servers}
    try:
        for server in servers:
            server.start()
            bench.ab(server.port, PAGE, 500, 1, CLIENT)  # warm caches and lazy set-up
        for _ in range(SLICES):
            for server in servers:
                before = cpu_seconds(server.process.pid)
                rate, _, ok = bench.ab(server.port, PAGE, per_slice, 1, CLIENT)
                cpu[server.name] += cpu_seconds(server.process.pid) - before
                seconds[server.name]["small_c1"] += per_slice / rate
                whole[server.name] &= ok
                if server.name != TRIVIAL:
                    rate, _, ok = bench.ab(server.port, MID, per_slice, 1, CLIENT)
                    seconds[server.name]["mid_c1"] += per_slice / rate
                    whole[server.name] &= ok
    finally:
        for server in servers:
            server.stop()
    total = per_slice * SLICES
    results = {}
    for s in servers:
        figures = {key: total / spent for key, spent in seconds[s.name].items() if spent > 0}
        figures["cpu_us"] = cpu[s.name] * 1e6 / total
        results[s.name] = (figures, whole[s.name])
    return results


def measure(server, args, results, first_round, interleaved):
    """One turn of one server, after its share of the interleaved runs (figures, whole);
    appends each figure to results[column] and returns them."""
    figures, ok = interleaved
    figures = dict(figures)
    oks = [ok]
    server.start()
    serves_files = server.name != TRIVIAL
    try:
        figures["small_c8"], _, ok = bench.ab(server.port, PAGE, args.requests, 8, CLIENT)
        oks.append(ok)
        if serves_files:
            figures["big_c1"], _, ok = bench.ab(server.port, BIG, args.big_requests, 1, CLIENT)
            oks.append(ok)
        if first_round:
            results["by_call"], ok = count_calls(server, args)
            oks.append(ok)
            figures["calls"] = sum(results["by_call"].values())
            if server.name not in (NGINX, LIGHTTPD, TRIVIAL):
                results["one_request"], ok = one_request(server)
                oks.append(ok)
    finally:
        server.stop()
    if not all(oks):
        results["incomplete"] = True
    for key, value in figures.items():
        results.setdefault(key, []).append(value)
    return figures


def build_source(build):
    """The build folder's source folder and the commit that folder is at."""
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            source = next(line.split("=", 1)[1].strip() for line in f
                          if line.startswith("CMAKE_HOME_DIRECTORY:"))
        git = ["git", "-C", source]
        commit = subprocess.run(git + ["log", "-1", "--format=%h (%<(50,trunc)%s)"], capture_output=True,
                                text=True, check=True).stdout.strip()
        dirty = subprocess.run(git + ["status", "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True, check=True).stdout.strip()
        return f"{source}, at commit {commit}" + (" with uncommitted changes" if dirty else "")
    except (OSError, StopIteration, subprocess.CalledProcessError):
        return "not known"


def median(results, name, key):
    values = results.get(name, {}).get(key)
    return statistics.median(values) if values else None


def cell(value, fmt):
    return "—" if value is None else fmt.format(value)


def markdown(header, rows):
    """A Markdown table of header and rows (lists of cells)."""
    return "\n".join(["| " + " | ".join(header) + " |", "|" + "---|" * len(header)] +
                     ["| " + " | ".join(row) + " |" for row in rows])


def figure_cells(figures):
    """One row's cells for COLUMNS; figures(key) gives the value or None."""
    return [cell(figures(key), fmt) for key, _, fmt in COLUMNS]


def summary_table(results):
    """The medians of every server, then each Tarvel program's ratio to nginx."""
    titles = [title for _, title, _ in COLUMNS]
    rows = []
    for name, figures in results.items():
        mark = " (incomplete answers!)" if figures.get("incomplete") else ""
        rows.append([name + mark] + figure_cells(lambda key: median(results, name, key)))
    for name in results:
        if name not in (NGINX, LIGHTTPD, TRIVIAL) and NGINX in results:
            rows.append([f"{name} / nginx"] + [cell(ratio(results, name, key), "{:.2f}")
                                               for key, _, _ in COLUMNS])
    return markdown(["Server"] + titles, rows)


def ratio(results, name, key):
    ours, theirs = median(results, name, key), median(results, NGINX, key)
    return None if ours is None or not theirs else ours / theirs


def goals(results):
    """(goal, measured, PASS/FAIL) rows."""
    checks = [(f"{SERVE}: server CPU per request / nginx's ≤ 0.80",
               ratio(results, SERVE, "cpu_us"), lambda v: v <= 0.8),
              (f"{SERVE}: system calls per 1 KiB request ≤ 12", median(results, SERVE, "calls"),
               lambda v: v <= 12),
              (f"{WINDOW}: system calls per 1 KiB request ≤ 14", median(results, WINDOW, "calls"),
               lambda v: v <= 14)]
    for key, title, _ in COLUMNS:
        if key in RATES:
            checks.append((f"{SERVE}: {title.split(' (')[0]} requests per second / nginx's"
                           " ≥ 0.95", ratio(results, SERVE, key), lambda v: v >= 0.95))
    return [[goal, "not measured", "FAIL"] if value is None else
            [goal, f"{value:.2f}", "PASS" if passes(value) else "FAIL"]
            for goal, value, passes in checks]


def by_call_table(results):
    """Calls per request of each system call (rows) for each server (columns)."""
    names = [n for n in results if "by_call" in results[n]]
    if not names:
        return "(nothing counted)"
    calls = {c for n in names for c in results[n]["by_call"]}
    order = sorted(calls, key=lambda c: (-results[names[0]]["by_call"].get(c, 0), c))
    rows = []
    for call in order:
        values = [results[n]["by_call"].get(call, 0) for n in names]
        if max(values) >= 0.005:
            rows.append([call] + [f"{v:.2f}" if v else "" for v in values])
    return markdown(["system call"] + names, rows)


def options_note(args):
    """What the Tarvel programs were started with beyond the defaults, for the report."""
    notes = []
    if args.serve_options:
        notes.append(f"tarvel-serve ran with `{' '.join(args.serve_options)}`")
    if args.window_settings:
        notes.append(f"the window's profile held `{' '.join(args.window_settings)}`")
    if args.also:
        notes.append(", ".join(a.split("=", 1)[0] for a in args.also) + " ran without options")
    return " " + "; ".join(notes) + "." if notes else ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--trivial", required=True, help="the compiled bench/trivial-server.c")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--requests", type=int, default=20000)
    parser.add_argument("--syscall-requests", type=int, default=2000)
    parser.add_argument("--big-requests", type=int, default=20)
    parser.add_argument("--md", default=None)
    parser.add_argument("--also", action="append", default=[],
                        help="another tarvel-serve build to measure, as LABEL=BINARY")
    parser.add_argument("--quiet-wait", type=float, default=20)
    parser.add_argument("--command", default="", help="the command to name in the report")
    parser.add_argument("--serve-options", default="",
                        help="options for tarvel-serve, space-separated, e.g. --concurrent")
    parser.add_argument("--window-settings", default="",
                        help="Key=value lines for the window's profile, space-separated")
    parser.add_argument("--json", default=None, help="also write the medians here")
    args = parser.parse_args()
    args.serve_options = args.serve_options.split()
    args.window_settings = args.window_settings.split()
    args.build = os.path.abspath(args.build)  # the servers start in a scratch folder
    if len(os.sched_getaffinity(0)) < 2:
        sys.exit("cost.py: needs two cores, one for the servers and one for the clients")
    started = time.time()

    scratch, root = bench.make_scratch()
    servers = [s for s in bench.make_servers(args, root, scratch)
               if not s.name.startswith("python3")]
    servers.append(bench.Server(TRIVIAL, root, scratch, lambda port: (
        [args.trivial, str(port), os.path.join(root, "page-1k.htm")], None)))
    for server in servers:
        server.prefix = ["taskset", "-c", SERVER_CORE]
    results = {s.name: {} for s in servers}
    turns, busy = [], 0  # turns: one table row per turn
    try:
        for round_number in range(1, args.rounds + 1):
            bench.wait_for_quiet(args.quiet_wait)
            interleaved = interleaved_runs(servers, args)
            for server in servers:
                quiet = bench.wait_for_quiet(args.quiet_wait)
                busy += not quiet
                figures = measure(server, args, results[server.name], round_number == 1,
                                  interleaved[server.name])
                turns.append([str(round_number), server.name + ("" if quiet else " (busy)")] +
                             figure_cells(figures.get))
                print("cost: " + " | ".join(turns[-1]), flush=True)
    finally:
        for server in servers:
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)

    with open("/proc/cpuinfo") as f:
        model = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "?")
    quiet_note = ("the machine was quiet for every turn" if busy == 0 else
                  f"in {busy} of {len(turns)} turns it was still busy with other work (marked "
                  "under Each turn)")
    goal_rows = goals(results)
    passed = sum(result == "PASS" for _, _, result in goal_rows)
    sequences = "".join(
        f"\n### One request to {name}: {len(figures['one_request'])} lines\n\n"
        "```\n" + "\n".join(figures["one_request"]) + "\n```\n"
        for name, figures in results.items() if "one_request" in figures)
    plural = "" if args.rounds == 1 else "s"
    method = textwrap.fill(
        f"Each server ran pinned to core {SERVER_CORE} (`taskset`) and served a 1 KiB page, a "
        "64 KiB file and a 100 MiB file from the same root on 127.0.0.1; the client, `ab` "
        f"(HTTP/1.0, one connection per request), ran pinned to core {CLIENT_CORE}. Server CPU "
        "per request is the growth of utime+stime (`/proc/PID/stat`, every process and thread of "
        f"the server, nginx's master and worker) over {args.requests:,} requests of the 1 KiB page "
        f"at -c 1, in {SLICES} slices of {args.requests // SLICES:,} in which the servers, all "
        "running at once, took turns, so noise from elsewhere on the machine or its host fell on "
        "all of them alike; those runs also give the 1 KiB -c 1 rate, and 64 KiB at -c 1 "
        f"({args.requests:,} requests) is taken in the same slices. Then each server had a turn "
        f"of its own: 1 KiB at -c 8 ({args.requests:,} requests) and 100 MiB "
        f"({args.big_requests}). "
        f"Each of those figures is the median of {args.rounds} round{plural}; the servers took "
        "turns within each round, and before each turn the script waited (up to "
        f"{args.quiet_wait:.0f} s) for the processors to be at least 85% idle: {quiet_note}. "
        "Other work on the machine (or on its host) inflates CPU per request too, so compare "
        "rows of one run only. System calls per request: `strace -c -f` attached to the "
        f"server's processes during {args.syscall_requests:,} requests of the 1 KiB page at -c 1 "
        "(first round), the total count divided by the requests, nothing subtracted. nginx runs "
        "one worker with sendfile on, keepalive_timeout 0 and no access log; the trivial C loop "
        "(`bench/trivial-server.c`) accepts, reads once, writes a fixed answer and closes: the "
        "floor." + options_note(args), 99)
    report = f"""# What one request costs

Measured {time.strftime('%Y-%m-%d %H:%M', time.localtime(started))} on {os.cpu_count()} cores
({model}), Linux {os.uname().release}, in {(time.time() - started) / 60:.1f} minutes, by
`{args.command or ' '.join(['bench/cost.py'] + sys.argv[1:])}`, on the build in
{args.build} (its source folder: {build_source(args.build)}).

{method}

{summary_table(results)}

## Goals: {passed} of {len(goal_rows)} pass

{markdown(["goal", "measured", "result"], goal_rows)}

## System calls per request, by call

Calls under 0.005 per request are left out (they are in the totals above).

{by_call_table(results)}

## Each turn

{markdown(["round", "server"] + [title for _, title, _ in COLUMNS], turns)}

## The system calls of one request

`strace -f -s 40` attached while `ab -n 1` fetched the 1 KiB page, then 0.3 s for the server to
settle. The first line may be a wait that was already under way, and what follows the last close
may be idle work: the counts above say how often each call comes under load.
{sequences}"""
    print(report)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({name: {key: median(results, name, key) for key, _, _ in COLUMNS} |
                       {"by_call": figures.get("by_call", {}),
                        "incomplete": bool(figures.get("incomplete"))}
                       for name, figures in results.items()}, f, indent=1)
    if args.md:
        with open(args.md, "w") as f:
            f.write(report)
    return 1 if any(f.get("incomplete") for f in results.values()) else 0


if __name__ == "__main__":
    sys.exit(main())
