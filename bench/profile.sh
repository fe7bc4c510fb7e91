#!/usr/bin/env bash
# Hostile profiles: the window program (Qt's offscreen platform) started on a
# profile of almost 16 MiB of short lines, with autostart set. Prints, for each
# kind of line, the time from launch until the server accepts connections and
# the process's peak resident memory (/usr/bin/time -v). The start's save adds
# DefaultURL, so each run also rewrites the whole file once.
#   bash bench/profile.sh [BUILD_DIR]
# Without BUILD_DIR it makes a Release build of the window in build-bench/ first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TV_STAGE=profile-bench
source "$top/tests/clients/servers.sh"

tv_need_apt time python3
build=${1:-}
if [ -z "$build" ]; then
    build=$top/build-bench
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARVEL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j"${JOBS:-2}" --target tarvel >/dev/null
fi
build=$(cd "$build" && pwd)
window=$(tv_window_binary "$build") || tv_fail "the window program is not built in $build"

# write_profile FILE KIND ROOT PORT
write_profile() {
    "$PY" - "$@" <<'EOF'
import sys
path, kind, root, port = sys.argv[1:]
size = 16 * 1024 * 1024 - 256  # the new DefaultURL line must still fit under the limit
keys = f"Root={root}\nChannel={port}\nAutoStart=1\n"
if kind == "small":
    head, line = "", ""
elif kind == "newlines":
    head, line = "", "\n"
elif kind == "brackets":
    head, line = "", "[\n"
elif kind == "pairs":  # inside the settings' own section, before its keys
    head, line = "[Defaults]\n", "k=v\n"
tail = keys if kind == "pairs" else "[Defaults]\n" + keys
body = ""
if line:
    body = line * ((size - len(head) - len(tail)) // len(line))
with open(path, "w") as f:
    f.write(head + body + tail)
EOF
}

printf '| profile | size (bytes) | launch to serving (s) | peak RSS (MiB) |\n|---|---|---|---|\n'
for kind in small newlines brackets pairs; do
    tv_temp home
    mkdir -p "$home/config" "$home/runtime" "$home/www"
    chmod 700 "$home/runtime"
    port=$(tv_free_port)
    write_profile "$home/config/tarvel.INI" "$kind" "$home/www" "$port"
    size=$(stat -c %s "$home/config/tarvel.INI")
    start=$(date +%s.%N)
    (cd "$home" && exec /usr/bin/time -v -o "$home/time.txt" env QT_QPA_PLATFORM=offscreen \
        XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime" HOME="$home" \
        "$window" >"$home/window.log" 2>&1) &
    timer=$!
    TV_PIDS+=("$timer")
    tv_wait_port "$port" 120 || tv_fail "$kind: tarvel did not serve: $(cat "$home/window.log")"
    served=$(date +%s.%N)
    grep -q DefaultURL= "$home/config/tarvel.INI" || tv_fail "$kind: the start's save did not happen"
    # The window is the only child of time(1); SIGTERM closes it as its close box does.
    window_pid=$(cat "/proc/$timer/task/$timer/children")
    kill -TERM "$window_pid"
    wait "$timer" || true
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$home/time.txt")
    awk -v k="$kind" -v n="$size" -v t0="$start" -v t1="$served" -v kb="$rss" \
        'BEGIN { printf "| %s | %d | %.2f | %.1f |\n", k, n, t1 - t0, kb / 1024 }'
done
