#!/usr/bin/env bash
# Folder listings of 1,000 and 10,000 entries, in one run on loopback:
# requests per second, server CPU per listing and page size for tarvel-serve
# --list, the window program (Qt's offscreen platform, ListFolders=1), nginx
# (one worker, autoindex on) and python3 -m http.server, each server pinned to
# core 0 and the clients to core 1, with the goal checks and the time of one
# listing. Writes bench/listing.md and prints it.
#   bash bench/listing.sh [BUILD_DIR] [listing.py options, e.g. --rounds 1 --huge
#       --also "before=OTHER_BUILD/tools/tarvel-serve"]
# Without BUILD_DIR it makes a Release build in build-bench/ first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TV_STAGE=listing
source "$top/tests/clients/servers.sh"

bash "$top/scripts/install-deps" bench
tv_bench_args "$top" "bash bench/listing.sh" "$@"
"$PY" "$top/bench/listing.py" --build "$TV_BUILD" --md "$top/bench/listing.md" \
    --command "$TV_COMMAND" "${TV_ARGS[@]}"
