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

bash "$top/scripts/install-deps" bench
tv_bench_args "$top" "bash bench/swarm.sh" "$@"
md=$top/bench/swarm.md
args=()
while [ ${#TV_ARGS[@]} -gt 0 ]; do
    case ${TV_ARGS[0]} in
        --md) md=${TV_ARGS[1]:?--md needs a file}; TV_ARGS=("${TV_ARGS[@]:2}") ;;
        --md=*) md=${TV_ARGS[0]#--md=}; TV_ARGS=("${TV_ARGS[@]:1}") ;;
        *) args+=("${TV_ARGS[0]}"); TV_ARGS=("${TV_ARGS[@]:1}") ;;
    esac
done
# Exits 0 when the measurement ran, whatever it found; only a broken run fails.
"$PY" "$top/bench/swarm.py" --build "$TV_BUILD" --md "$md" --command "$TV_COMMAND" \
    ${args[@]+"${args[@]}"}
