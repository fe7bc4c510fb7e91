#!/usr/bin/env bash
# Several visitors at once, in one run on loopback: tarvel-serve --concurrent,
# the window program with Concurrent=1 (Qt's offscreen platform), tarvel-serve
# without the option, nginx (one worker) and python3's threaded http.server.
# Paced downloads as phones take them (4 at 5 MB/s, 500 at 50 KiB/s, one at
# 50 KiB/s) beside a normal client, one unpaced 1 GiB download and the 1 KiB
# page with ab in interleaved rounds, and bench/syscalls.sh with the option on.
# Writes bench/concurrent.md (or --md FILE), bench/concurrent-cost.md (the
# syscalls.sh report) and prints the tables; exits 0 when the measurement ran.
#   bash bench/concurrent.sh [BUILD_DIR] [--seconds 20] [--many-seconds 20]
#        [--slow-seconds 20] [--rounds 5] [--requests 5000] [--cost-rounds 1]
#        [--servers serve-on,window-on,serve-off,nginx,python]
#        [--scenarios downloads4,downloads500,reader50k,unpaced1g,page1k] [--md FILE]
# Without BUILD_DIR it makes a Release build in build-bench/ first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TV_STAGE=concurrent
source "$top/tests/clients/servers.sh"

bash "$top/scripts/install-deps" bench
tv_bench_args "$top" "bash bench/concurrent.sh" "$@"
md=$top/bench/concurrent.md
cost_md=$top/bench/concurrent-cost.md
args=()
while [ ${#TV_ARGS[@]} -gt 0 ]; do
    case ${TV_ARGS[0]} in
        --md) md=${TV_ARGS[1]:?--md needs a file}; TV_ARGS=("${TV_ARGS[@]:2}") ;;
        --md=*) md=${TV_ARGS[0]#--md=}; TV_ARGS=("${TV_ARGS[@]:1}") ;;
        --cost-md) cost_md=${TV_ARGS[1]:?--cost-md needs a file}; TV_ARGS=("${TV_ARGS[@]:2}") ;;
        --cost-md=*) cost_md=${TV_ARGS[0]#--cost-md=}; TV_ARGS=("${TV_ARGS[@]:1}") ;;
        *) args+=("${TV_ARGS[0]}"); TV_ARGS=("${TV_ARGS[@]:1}") ;;
    esac
done
# Exits 0 when the measurement ran, whatever it found; only a broken run fails.
"$PY" "$top/bench/concurrent.py" --build "$TV_BUILD" --md "$md" --cost-md "$cost_md" \
    --command "$TV_COMMAND" ${args[@]+"${args[@]}"}
