#!/usr/bin/env python3
"""What previewing a website costs, in one run on loopback: tarvel-serve with
the preview off and on, each pinned to core 0, and every client (ab: HTTP/1.0,
one connection per request; headless Chromium) on core 1. Each figure is the
median of --rounds rounds in which the loads take turns:
  - the 1 KiB page as ab asks for it (no navigation): requests per second and
    server CPU per request (utime+stime from /proc), preview off and on;
  - the same page asked for as a browser shows it (Sec-Fetch-Dest: document):
    off, the file; on, the file with the reload script;
  - preview on with six Chromium tabs open on a small site's front page (a
    stylesheet, a script, an image), against no tabs: the 1 KiB rate and CPU
    per request while the tabs poll, and, with nothing else running, the
    requests per second the tabs make and the share of a core they cost.
Writes the Markdown report (--md) and prints it.

    preview.py --build BUILD_DIR [--rounds 3] [--md FILE]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (servers and ab)
import cost  # noqa: E402  (pinning, CPU of a process, report helpers)

OFF, ON = "preview off", "preview on"
PAGE = "/page-1k.htm"
NAVIGATION = ("Sec-Fetch-Dest: document",)
TABS = 6


def make_root(scratch):
    """A 1 KiB page and a small site's front page with what it loads."""
    root = os.path.join(scratch, "root")
    os.makedirs(root)
    body = "<p>" + "Tarvel serves this page. " * 38 + "</p>\n"
    page = f"<!doctype html><html><head><title>1 KiB</title></head><body>{body}</body></html>\n"
    files = {
        "page-1k.htm": page[:1000] + " " * (1024 - len(page[:1000]) - 15) + "</body></html>\n",
        "index.html": '<!doctype html><html><head><link rel="stylesheet" href="style.css">'
                      '<script src="app.js"></script></head><body><h1>A site</h1>'
                      '<img src="pic.svg"></body></html>\n',
        "style.css": "h1 { color: teal; }\n",
        "app.js": "window.loaded = true;\n",
        "pic.svg": '<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"/>\n',
    }
    for name, text in files.items():
        with open(os.path.join(root, name), "w") as f:
            f.write(text)
    return root


def make_servers(build, root, scratch):
    serve = os.path.join(os.path.abspath(build), "tools", "tarvel-serve")
    servers = {}
    for name, options in ((OFF, []), (ON, ["--preview"])):
        server = bench.Server(name, root, scratch,
                              lambda port, options=options: ([serve, *options, root, str(port)],
                                                             None))
        server.prefix = ["taskset", "-c", cost.SERVER_CORE]
        servers[name] = server
    return servers


def load(server, requests, headers=()):
    """Requests per second and server CPU per request (µs) of one ab run."""
    before = cost.cpu_seconds(server.process.pid)
    rate, _, ok = bench.ab(server.port, PAGE, requests, 1, cost.CLIENT, headers)
    spent = cost.cpu_seconds(server.process.pid) - before
    if not ok:
        raise RuntimeError(f"{server.name}: incomplete answers")
    return rate, spent / requests * 1e6


def open_tabs(args, port):
    """Chromium with the tabs open on the site's front page, once they are ready."""
    tabs = subprocess.Popen(
        cost.CLIENT + ["node", os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                            "preview-tabs.mjs"),
                       f"http://127.0.0.1:{port}/", str(TABS)],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    ready = tabs.stdout.readline().split()
    if ready[:1] != ["ready"] or int(ready[1]) != TABS:
        raise RuntimeError(f"the tabs did not open: {ready}")
    time.sleep(3)  # past their first looks
    return tabs


def close_tabs(tabs):
    """The tabs' requests per second over their life."""
    out, _ = tabs.communicate(timeout=60)
    words = out.split()
    return int(words[1]) / float(words[3])


def one_round(servers, args, figures):
    for name, server in servers.items():
        for key, headers in (("plain", ()), ("navigation", NAVIGATION)):
            rate, cpu = load(server, args.requests, headers)
            figures.setdefault((name, key, "rate"), []).append(rate)
            figures.setdefault((name, key, "cpu"), []).append(cpu)
    on = servers[ON]
    tabs = open_tabs(args, on.port)
    try:
        before = cost.cpu_seconds(on.process.pid)
        time.sleep(args.idle_seconds)
        figures.setdefault((ON, "tabs idle", "core"), []).append(
            (cost.cpu_seconds(on.process.pid) - before) / args.idle_seconds)
        rate, cpu = load(on, args.requests)
        figures.setdefault((ON, "tabs", "rate"), []).append(rate)
        figures.setdefault((ON, "tabs", "cpu"), []).append(cpu)
    finally:
        figures.setdefault((ON, "tabs", "polls"), []).append(close_tabs(tabs))


def median(figures, *key):
    values = figures.get(key)
    return statistics.median(values) if values else None


def report(figures, args, command):
    rows = []
    for label, name, key in (("1 KiB page, plain request", OFF, "plain"),
                             ("1 KiB page, plain request", ON, "plain"),
                             ("1 KiB page, as a browser shows it", OFF, "navigation"),
                             ("1 KiB page, as a browser shows it (with the script)", ON,
                              "navigation"),
                             (f"1 KiB page, plain request, {TABS} preview tabs open", ON, "tabs")):
        rows.append([label, name, cost.cell(median(figures, name, key, "rate"), "{:.0f}"),
                     cost.cell(median(figures, name, key, "cpu"), "{:.1f}")])
    polls = median(figures, ON, "tabs", "polls")
    core = median(figures, ON, "tabs idle", "core")
    plain, tabs = median(figures, ON, "plain", "rate"), median(figures, ON, "tabs", "rate")
    return textwrap.dedent(f"""\
        # What previewing costs

        Made by `{command}` on {time.strftime('%Y-%m-%d')}, {args.rounds} rounds, {args.requests}
        requests per run (ab -c 1, HTTP/1.0), tarvel-serve of {args.build} pinned to core
        {cost.SERVER_CORE}, ab and Chromium pinned to core {cost.CLIENT_CORE}.

        {{table}}

        Six tabs open on a preview page made {polls:.1f} requests per second together
        ({polls / TABS:.1f} a tab: the page and the three files it loaded, once a second), and
        with nothing else running the server spent {core * 100:.2f} % of one core on them.
        While they polled, the 1 KiB rate was {tabs / plain:.2f} of the rate without tabs
        (Chromium shares the client core with ab).
        """).replace("{table}", cost.markdown(
            ["load", "server", "req/s", "server CPU per request (µs)"], rows))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--requests", type=int, default=20000)
    parser.add_argument("--idle-seconds", type=float, default=10)
    parser.add_argument("--md")
    parser.add_argument("--command", default="bench/preview.py")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="tarvel-preview-bench-") as scratch:
        servers = make_servers(args.build, make_root(scratch), scratch)
        figures = {}
        try:
            for server in servers.values():
                server.start()
            for _ in range(args.rounds):
                one_round(servers, args, figures)
        finally:
            for server in servers.values():
                server.stop()
    text = report(figures, args, args.command)
    if args.md:
        with open(args.md, "w") as f:
            f.write(text)
    print(text)


if __name__ == "__main__":
    main()
