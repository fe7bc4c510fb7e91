#!/usr/bin/env bash
# What one request costs, in one run on loopback: server CPU per request, system
# calls per request and requests per second for tarvel-serve, the window program
# (Qt's offscreen platform), nginx (one worker), lighttpd and a trivial C loop
# (bench/trivial-server.c, compiled here: the floor), each server pinned to core
# 0 and ab to core 1, with the goal checks. Writes bench/cost.md and prints it.
#   bash bench/syscalls.sh [BUILD_DIR] [cost.py options, e.g. --rounds 1 --md FILE]
# Without BUILD_DIR it makes a Release build in build-bench/ first. With
# SERVE_OPTIONS (e.g. "--concurrent") tarvel-serve runs with those options, and
# WINDOW_SETTINGS (e.g. "Concurrent=1") goes into the window's profile.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TV_STAGE=cost
source "$top/tests/clients/servers.sh"

bash "$top/scripts/install-deps" bench
tv_bench_args "$top" "bash bench/syscalls.sh" "$@"
tv_temp scratch
cc -O2 -Wall -Wextra -o "$scratch/trivial-server" "$top/bench/trivial-server.c"
"$PY" "$top/bench/cost.py" --build "$TV_BUILD" --trivial "$scratch/trivial-server" \
    --md "$top/bench/cost.md" --command "$TV_COMMAND" \
    --serve-options="${SERVE_OPTIONS:-}" --window-settings="${WINDOW_SETTINGS:-}" "${TV_ARGS[@]}"
