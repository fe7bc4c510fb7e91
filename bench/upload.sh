#!/usr/bin/env bash
# Visitors' uploads in one run on loopback: tarvel-serve --upload beside nginx
# (one worker, dav_methods PUT). A big upload (2 GiB) by PUT to both and by form
# to tarvel-serve: throughput, its ratio to nginx's PUT, tarvel-serve's
# resident memory and the stored bytes; then, with --concurrent --upload, four
# uploads paced at 5 MB/s beside a normal client asking for a 1 KiB page every
# 200 ms: the share of its answers within 10 ms and its percentiles. Writes
# bench/upload.md (or --md FILE) and prints the tables; exits 0 when the
# measurement ran.
#   bash bench/upload.sh [BUILD_DIR] [--size 2G] [--rounds 5] [--parts big,paced]
#        [--servers serve,nginx[,window]] [--seconds 20] [--scratch DIR] [--md FILE]
# The files are made under --scratch (default: the temp folder), which needs
# about twice --size free and a little more; a quick run can use --size 512M.
# Without BUILD_DIR it makes a Release build in build-bench/ first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TV_STAGE=upload
source "$top/tests/clients/servers.sh"

tv_bench_run "$top" upload "$@"
