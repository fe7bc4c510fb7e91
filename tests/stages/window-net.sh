#!/usr/bin/env bash
# Stage: the window as another machine on the network sees it. The desktop
# program runs under Xvfb in a network namespace of its own (10.200.0.1, with a
# docker0-like bridge address listed before it by the system); zbarimg reads
# the QR code from a screenshot of the screen, and curl in a second namespace,
# at the other end of a veth pair, fetches a file through that URL. A second
# run does the same with the private link on: the QR code holds the secret
# address, and the plain one gets the error page. Only these namespaces'
# addresses are contacted.
#   bash tests/stages/window-net.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: window-net.sh BUILD_DIR}" && pwd)
source "$top/tests/clients/servers.sh"
source "$top/tests/ui/netns-window.sh"

program=$(tv_window_binary "$build") || { tv_say "the desktop program is not built in $build: skipped"; exit 0; }
server_address=10.200.0.1
port=8080
expected_url=http://$server_address:$port/

if [ "$(id -u)" -ne 0 ] || ! ip netns add "tarvel$$-probe" 2>/dev/null; then
    [ "${CI:-}" != true ] || tv_fail "network namespaces cannot be made here (root is needed)"
    tv_say "SKIPPED: network namespaces need root (ip netns add failed); run as root to test"
    exit 0
fi
ip netns del "tarvel$$-probe"
tv_need_apt iproute2 xvfb xauth imagemagick zbar-tools curl
trap 'nw_down; tv_cleanup' EXIT

tv_temp work
mkdir -p "$work/www"
echo '<h1>Shared from Tarvel</h1>' >"$work/www/index.htm"
head -c 200000 /dev/urandom >"$work/www/photo.jpg"

# A container bridge's address on an interface the system lists before eth0:
# the window must still offer the interface with the default route first. (A
# veth pair stands in for the bridge; it is up and running like one.)
add_bridge() {
    nw_in_server ip link add docker0 type veth peer name docker0-peer &&
        nw_in_server ip addr add 172.17.0.1/16 dev docker0 &&
        nw_in_server ip link set docker0-peer up &&
        nw_in_server ip link set docker0 up
}
nw_up "$server_address/24" 10.200.0.2/24 add_bridge ||
    tv_fail "could not set up the namespaces and the veth pair"

tv_say "starting the window in namespace $NW_SERVER"
nw_start "$program" "$work" "$port" "$work/www" ||
    tv_fail "the window did not serve on port $port: $(cat "$NW_LOG" 2>/dev/null)"

nw_screenshot root "$work/screen.png" || tv_fail "import could not take a screenshot"
url=$(zbarimg --nodbus --raw -q "$work/screen.png") || tv_fail "zbarimg found no QR code on the screen"
[ "$url" = "$expected_url" ] || tv_fail "the QR code reads '$url', want '$expected_url'"
tv_say "the QR code reads $url"

nw_in_client curl -sS --max-time 10 -o "$work/fetched.jpg" "${url}photo.jpg" ||
    tv_fail "curl from $NW_CLIENT could not fetch ${url}photo.jpg"
cmp -s "$work/fetched.jpg" "$work/www/photo.jpg" || tv_fail "${url}photo.jpg: not the file's bytes"
page=$(nw_in_client curl -sS --max-time 10 "$url") || tv_fail "curl $url failed"
[ "$page" = '<h1>Shared from Tarvel</h1>' ] || tv_fail "$url gave '$page'"
tv_say "curl from the other end of the veth pair fetched ${url}photo.jpg and the default page"

# The private link, with the secret a profile keeps: fresh namespaces and a
# fresh window, which reads it from the profile and shows it in the QR code.
nw_down
key=t3stk3ysecr3tpr2vat3l2nkaa
private_url=$expected_url$key/
nw_up "$server_address/24" 10.200.0.2/24 add_bridge ||
    tv_fail "could not set up the namespaces again for the private link"
tv_say "starting the window with the private link on"
nw_start "$program" "$work/private" "$port" "$work/www" "" "Private=1"$'\n'"PrivateKey=$key" ||
    tv_fail "the window did not serve on port $port: $(cat "$NW_LOG" 2>/dev/null)"

nw_screenshot root "$work/private/screen.png" || tv_fail "import could not take a screenshot"
url=$(zbarimg --nodbus --raw -q "$work/private/screen.png") ||
    tv_fail "zbarimg found no QR code on the screen with the private link on"
[ "$url" = "$private_url" ] || tv_fail "the QR code reads '$url', want '$private_url'"
tv_say "the QR code reads $url"

nw_in_client curl -sS --max-time 10 -o "$work/private/fetched.jpg" "${url}photo.jpg" ||
    tv_fail "curl from $NW_CLIENT could not fetch ${url}photo.jpg"
cmp -s "$work/private/fetched.jpg" "$work/www/photo.jpg" ||
    tv_fail "${url}photo.jpg: not the file's bytes"
for plain in "$expected_url" "${expected_url}photo.jpg"; do
    status=$(nw_in_client curl -sS --max-time 10 -o /dev/null -w '%{http_code}' "$plain") ||
        tv_fail "curl $plain failed"
    [ "$status" = 404 ] || tv_fail "$plain gave status $status, want 404 with the private link on"
done
profile=$work/private/config/tarvel.INI
grep -qx "PrivateKey=$key" "$profile" || tv_fail "the profile lost the secret: $(cat "$profile")"
mode=$(stat -c %a "$profile")
[ "$mode" = 600 ] || tv_fail "the profile holding the secret has mode $mode, want 600"
tv_say "curl fetched ${url}photo.jpg; the plain address got 404; the profile kept the secret, mode 600"
tv_say "passed"
