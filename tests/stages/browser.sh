#!/usr/bin/env bash
# Stage: a real browser. Headless Chromium from Debian, driven through the
# DevTools protocol by tests/browser/browser-test.mjs (playwright-core, installed
# by this stage into tests/browser/node_modules), loads and reloads pages from
# each program under test on a port other than 80 and checks what it rendered
# and what went over the wire. A screenshot of the first page is left in the
# build folder (browser-VARIANT.png).
# A folder listing from tarvel-serve --list is opened at a phone's viewport
# (tests/browser/listing-test.mjs); its screenshot is listing-phone.png.
# A small site is edited while tarvel-serve --preview serves it and Chromium
# shows it (tests/browser/preview-test.mjs, which starts its own servers); the
# times from saving a file to seeing the change are printed.
# A private link (tests/browser/private-test.mjs, its own servers): edits show
# inside the secret, and nothing sent to another server carries it.
# Files added through a listing of tarvel-serve --upload at a phone's viewport,
# with JavaScript and without (tests/browser/upload-test.mjs, its own server):
# exact names listed, exact bytes stored, nothing a name says runs; its
# screenshots are upload-phone.png and upload-phone-sending.png.
# Then tarvel-serve runs inside a network namespace made here, and Chromium,
# outside it, plays a video of about 200 s and 100 MiB made here by ffmpeg,
# while other requests must be answered at once (tests/browser/media-test.mjs);
# then again serving several visitors at once, beside a paced download.
#   bash tests/stages/browser.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: browser.sh BUILD_DIR}
source "$top/tests/clients/servers.sh"

tv_need_apt chromium nodejs fonts-dejavu-core fonts-wqy-microhei ffmpeg iproute2
# Some machines carry a Node.js build that bundles npm; Debian's npm would clash with it.
command -v npm >/dev/null 2>&1 || tv_need_apt npm
browser_dir=$top/tests/browser
tv_need_playwright

tv_temp base
cp -r "$browser_dir/site" "$base/root"
mkdir -p "$base/root/fonts"
cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$base/root/fonts/test.ttf"

# H.264 at about 4.2 Mbit/s for 200 s: about 100 MiB, keyframes every 2 s.
mkdir -p "$base/root/media"
started=$(date +%s%N)
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=640x360:rate=25" -t 200 -c:v libx264 \
    -preset ultrafast -b:v 4200k -g 50 -pix_fmt yuv420p -movflags +faststart \
    "$base/root/media/video.mp4" || tv_fail "ffmpeg could not make the test video"
took=$((($(date +%s%N) - started) / 100000000))
tv_say "made a video of $(stat -c %s "$base/root/media/video.mp4") bytes in $((took / 10)).$((took % 10)) s"

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

# A listed folder at a phone's width: a name long enough that it must wrap,
# names that are markup, a folder with a space.
tv_temp listed
long=$(printf 'Abcdefghij%.0s' $(seq 20))
printf 'long\n' >"$listed/$long"
printf 'tag\n' >"$listed/<img src=x onerror=window.__pwned=1>"
printf 'quotes\n' >"$listed/say \"hi\" it's.txt" 2>/dev/null || tv_say "this file system takes no quotes in a name"
mkdir "$listed/sub folder"
printf 'inner\n' >"$listed/sub folder/inner file.txt"
TV_LIST_FOLDERS=1 tv_start_serve "$build" "$listed"
tv_say "serve listing folders on port $TV_PORT: chromium at 360x740"
timeout --kill-after=10 90 node "$browser_dir/listing-test.mjs" "$TV_URL" "$build/listing-phone.png" \
    "$listed" || failed+=("serve (listing)")
tv_stop_server "$TV_PID"

tv_say "serve previewing a site: chromium sees each saved edit by itself"
timeout --kill-after=10 250 node "$browser_dir/preview-test.mjs" "$(tv_serve_binary "$build")" ||
    failed+=("serve (preview)")

tv_say "serve a private link: the secret stays on this server, edits still show"
timeout --kill-after=10 120 node "$browser_dir/private-test.mjs" "$(tv_serve_binary "$build")" ||
    failed+=("serve (private link)")

tv_say "serve letting visitors add files: chromium at 360x740 sends three, with and without JavaScript"
timeout --kill-after=10 100 node "$browser_dir/upload-test.mjs" "$(tv_serve_binary "$build")" \
    "$build/upload-phone.png" || failed+=("serve (upload)")

tv_netns
tv_start_serve "$build" "$base/root"
tv_say "serve in the network namespace $TV_NETNS at $TV_URL: chromium plays a video"
timeout --kill-after=10 180 node "$browser_dir/media-test.mjs" "$TV_URL" || failed+=("serve (media)")
kill -0 "$TV_PID" 2>/dev/null || failed+=("serve (media: exited)")
tv_stop_server "$TV_PID"
TV_CONCURRENT=1 tv_start_serve "$build" "$base/root"
tv_say "serve serving several at once at $TV_URL: chromium plays a video beside a paced download"
timeout --kill-after=10 180 node "$browser_dir/media-test.mjs" "$TV_URL" concurrent ||
    failed+=("serve (media, several at once)")
kill -0 "$TV_PID" 2>/dev/null || failed+=("serve (media, several at once: exited)")
tv_stop_server "$TV_PID"
tv_netns_remove
[ ${#failed[@]} -eq 0 ] || tv_fail "the browser saw faults with: ${failed[*]}"
tv_say "passed"
