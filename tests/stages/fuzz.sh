#!/usr/bin/env bash
# Stage: the request fuzzer. Builds the libFuzzer target with clang (beside the
# normal build folder), then runs it for a bounded time from the seed corpus in
# tests/fuzz/corpus. A crash, a leak, a hang, a wrong answer or a file written
# where no upload may write fails the stage; the input that did it is kept in
# the fuzz build folder.
#   bash tests/stages/fuzz.sh BUILD_DIR        (FUZZ_SECONDS overrides the 60 s)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: fuzz.sh BUILD_DIR}
seconds=${FUZZ_SECONDS:-60}
source "$top/tests/clients/servers.sh"

tv_need_apt clang libclang-rt-14-dev cmake make
# Absolute: the fuzzer runs from a scratch folder.
fuzz_build=$(realpath -m "${build%/}-fuzz")
tv_say "building the fuzzer in $fuzz_build"
CXX=clang++ CC=clang cmake -S "$top" -B "$fuzz_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVEL_FUZZ=ON -DTARVEL_BUILD_UI=OFF -DTARVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$fuzz_build" -j"${JOBS:-2}" --target tarvel-request-fuzzer >/dev/null
fuzzer="$fuzz_build/tests/fuzz/tarvel-request-fuzzer"

# New inputs go to a scratch corpus, so the committed seeds stay as they are.
tv_temp work
mkdir -p "$work/corpus" "$fuzz_build/artifacts"
cp "$top/tests/fuzz/corpus/"* "$work/corpus/"
log="$fuzz_build/fuzz.log"
tv_say "fuzzing for ${seconds}s (log: $log)"
rc=0
(
    cd "$work"
    export TMPDIR=$work
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # The outer timeout catches a fuzzer that cannot stop by itself.
    exec timeout --kill-after=10 $((seconds + 60)) "$fuzzer" -max_total_time="$seconds" \
        -max_len=12000 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -dict="$top/tests/fuzz/request.dict" -artifact_prefix="$fuzz_build/artifacts/" \
        corpus
) >"$log" 2>&1 || rc=$?
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$log" | sed "s/^/[$TV_STAGE] /" || true
if [ $rc -ne 0 ]; then
    echo "----- last lines of $log" >&2
    tail -n 60 "$log" >&2
    artifact=$(ls -t "$fuzz_build/artifacts/" 2>/dev/null | head -n 1)
    [ -n "$artifact" ] && echo "reproduce: $fuzzer $fuzz_build/artifacts/$artifact" >&2
    tv_fail "the request fuzzer stopped with status $rc"
fi
tv_say "passed"
