#!/usr/bin/env bash
# The benchmark: Tarvel (the window program under Qt's offscreen platform, when
# built, and tarvel-serve) side by side with nginx (one worker), lighttpd and
# python3 -m http.server, on loopback. Writes bench/results.md (the table),
# bench/results.dat (its numbers) and docs/bench.png (their plot).
#   bash bench/run.sh [BUILD_DIR] [bench.py options, e.g. --rounds 1]
# Without BUILD_DIR it makes a Release build in build-bench/ first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TV_STAGE=bench
source "$top/tests/clients/servers.sh"

tv_need_apt nginx-light lighttpd apache2-utils curl python3 gnuplot-nox fonts-dejavu-core
tv_bench_args "$top" "bash bench/run.sh" "$@"
"$PY" "$top/bench/bench.py" --build "$TV_BUILD" --md "$top/bench/results.md" \
    --data "$top/bench/results.dat" --command "$TV_COMMAND" "${TV_ARGS[@]}"
mkdir -p "$top/docs"
gnuplot -e "data='$top/bench/results.dat'; out='$top/docs/bench.png'" "$top/bench/plot.gp"
tv_say "wrote bench/results.md, bench/results.dat and docs/bench.png"
