#!/usr/bin/env bash
# What previewing a website costs: tarvel-serve with the preview off and on,
# the 1 KiB page as ab asks for it and as a browser shows it, and six headless
# Chromium tabs polling a preview page (their requests per second, the server
# CPU they take, the 1 KiB rate beside them). Writes bench/preview.md and
# prints it.
#   bash bench/preview.sh [BUILD_DIR] [preview.py options, e.g. --rounds 1]
# Without BUILD_DIR it makes a Release build in build-bench/ first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TV_STAGE=preview
source "$top/tests/clients/servers.sh"

bash "$top/scripts/install-deps" bench
tv_need_playwright
tv_bench_args "$top" "bash bench/preview.sh" "$@"
"$PY" "$top/bench/preview.py" --build "$TV_BUILD" \
    --md "$top/bench/preview.md" --command "$TV_COMMAND" "${TV_ARGS[@]}"
