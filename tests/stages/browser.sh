#!/usr/bin/env bash
# Stage: a real browser. Headless Chromium from Debian, driven through the
# DevTools protocol by tests/browser/browser-test.mjs (playwright-core, installed
# by this stage into tests/browser/node_modules), loads and reloads pages from
# each program under test on a port other than 80 and checks what it rendered
# and what went over the wire. A screenshot of the first page is left in the
# build folder (browser-VARIANT.png).
#   bash tests/stages/browser.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: browser.sh BUILD_DIR}
source "$top/tests/clients/servers.sh"

tv_need_apt chromium nodejs fonts-dejavu-core
# Some machines carry a Node.js build that bundles npm; Debian's npm would clash with it.
command -v npm >/dev/null 2>&1 || tv_need_apt npm
browser_dir=$top/tests/browser
if [ ! -f "$browser_dir/node_modules/playwright-core/package.json" ]; then
    tv_say "installing playwright-core into $browser_dir/node_modules"
    (cd "$browser_dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 timeout 300 npm ci --no-audit --no-fund \
        --loglevel=error) || tv_fail "npm ci in $browser_dir failed"
fi

tv_temp base
cp -r "$browser_dir/site" "$base/root"
mkdir -p "$base/root/fonts"
cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$base/root/fonts/test.ttf"

failed=()
variants=$(tv_variants "$build") || exit 1
for variant in $variants; do
    tv_start "$variant" "$build" "$base/root"
    tv_say "$variant on port $TV_PORT: chromium"
    if ! timeout --kill-after=10 150 node "$browser_dir/browser-test.mjs" "$TV_URL" \
        "$build/browser-$variant.png" "$base/root"; then
        failed+=("$variant")
    fi
    tv_stop_server "$TV_PID"
done
[ ${#failed[@]} -eq 0 ] || tv_fail "the browser saw faults with: ${failed[*]}"
tv_say "passed"
