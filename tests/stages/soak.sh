#!/usr/bin/env bash
# Stage: a bounded soak under faults (tests/soak/soak.py) against each program
# under test: about a minute of many clients at once, normal requests mixed with
# resets, half-closes, idle connects, readers that never read, range readers
# that pause, ranges, revalidations, oversized, binary, hidden-file and
# traversal requests, while a swarm of 16 hostile hosts (127.0.2.1-16) keeps
# unfinished request lines, never-reading peers and 256 B/s readers on the
# server. Every normal request must have had its full, correct answer within
# 5 s (the slowest is reported). Then the server must answer at once, hold no more descriptors
# than before and not have grown in memory beyond a few MiB.
# tarvel-serve then goes through it again serving several visitors at once.
# When the sanitizer build sits beside the build folder (BUILD_DIR-asan), its
# tarvel-serve (several at once, the road with the most state) gets a shorter soak as well, and must exit without a report.
#   bash tests/stages/soak.sh BUILD_DIR     (SOAK_SECONDS, ASAN_SOAK_SECONDS: 60, 30)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: soak.sh BUILD_DIR}
seconds=${SOAK_SECONDS:-60}
asan_seconds=${ASAN_SOAK_SECONDS:-30}
source "$top/tests/clients/servers.sh"

tv_need_apt python3 procps
tv_temp base
"$PY" "$top/tests/clients/site.py" "$base"
failed=()

# soak NAME SECONDS [soak.py options]: against the server just started.
soak() {
    local name=$1 length=$2
    shift 2
    tv_say "$name (pid $TV_PID) on port $TV_PORT"
    # The soak ends by itself; the timeout only guards against a hung client.
    timeout --kill-after=10 $((length + 120)) "$PY" "$top/tests/soak/soak.py" --port "$TV_PORT" \
        --pid "$TV_PID" --manifest "$base/manifest.json" --seconds "$length" "$@" ||
        failed+=("$name")
    kill -0 "$TV_PID" 2>/dev/null || failed+=("$name (exited)")
    tv_stop_server "$TV_PID"
}

variants=$(tv_variants "$build") || exit 1
for variant in $variants; do
    tv_start "$variant" "$build" "$base/root"
    soak "$variant" "$seconds"
done
# Serving several visitors at once: the same soak and bounds; nothing carried
# on in the background may leak a descriptor or memory.
TV_CONCURRENT=1 tv_start serve "$build" "$base/root"
soak "serve (several at once)" "$seconds"

asan_build="${build%/}-asan"
if [ -x "$(tv_serve_binary "$asan_build")" ]; then
    supp=$top/tests/lsan.supp
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=$([ -f "$supp" ] && echo "suppressions=$supp:print_suppressions=0") \
        TV_CONCURRENT=1 tv_start_serve "$asan_build" "$base/root"
    soak serve-asan "$asan_seconds" --max-rss-growth-kib 262144
    # The sanitizers report at the error or, for leaks, at exit.
    if grep -Eq 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$TV_LOG"; then
        sed -n '/Sanitizer\|runtime error/,+30p' "$TV_LOG" | head -n 60 >&2
        failed+=("serve-asan (sanitizer report above)")
    fi
else
    tv_say "no sanitizer build at $asan_build: its soak is skipped"
fi

[ ${#failed[@]} -eq 0 ] || tv_fail "the soak found faults in: ${failed[*]}"
tv_say "passed"
