#!/usr/bin/env bash
# Hostile-peer swarms against tarvel-serve, the window program (Qt's offscreen
# platform) and nginx (one worker), in one run on loopback: the answer times of a
# normal client beside each swarm, the honest readers' bytes and the time SIGTERM
# takes. Writes bench/swarm.md (or --md FILE) and prints the table; exits 0.
#   bash bench/swarm.sh [BUILD_DIR] [--seconds N] [--servers tarvel-serve,window,nginx]
#                       [--scenarios lines64,nonreaders,trickle,idle,slowhead,honest,sigterm]
#                       [--md FILE]
# Without BUILD_DIR it makes a Release build in build-bench/ first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TV_STAGE=swarm
source "$top/tests/clients/servers.sh"

tv_bench_run "$top" swarm "$@"
