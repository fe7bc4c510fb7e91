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
command="bash bench/run.sh"
[ $# -eq 0 ] || command+=$(printf ' %q' "$@")
build=
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$(cd "$1" && pwd)
    shift
fi
if [ -z "$build" ]; then
    build=$top/build-bench
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARVEL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j"${JOBS:-2}" >/dev/null
fi
"$PY" "$top/bench/bench.py" --build "$build" --md "$top/bench/results.md" \
    --data "$top/bench/results.dat" --command "$command" "$@"
mkdir -p "$top/docs"
gnuplot -e "data='$top/bench/results.dat'; out='$top/docs/bench.png'" "$top/bench/plot.gp"
tv_say "wrote bench/results.md, bench/results.dat and docs/bench.png"
