#!/usr/bin/env bash
# Stage: the Debian package. Builds it with scripts/package (Release, in
# BUILD_DIR-package), runs lintian, desktop-file-validate and appstreamcli on
# it, checks that Depends covers every library the programs need, installs it
# with apt-get, serves a folder from the installed tarvel-serve and from the
# installed window program (offscreen, temp profile), then purges it and checks
# that nothing it installed is left. Runs as root; leaves an installed tarvel
# alone (it stops instead).
#   bash tests/stages/package.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: package.sh BUILD_DIR}
source "$top/tests/clients/servers.sh"

[ "$(id -u)" -eq 0 ] || tv_fail "installs a package: run as root"
dpkg-query -W -f='${Status}' tarvel 2>/dev/null | grep -q "install ok installed" &&
    tv_fail "tarvel is installed already; this stage installs and purges it itself" \
        "(apt-get purge tarvel first)"
# xdg-utils is the package's Recommends: present, apt-get needs no download for it.
tv_need_apt curl python3 xdg-utils

installed=0
stage_cleanup() {
    tv_cleanup
    if [ $installed -eq 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvel >/dev/null 2>&1 || true
    fi
}
trap stage_cleanup EXIT

tv_temp base
tv_say "building the package"
deb=$(bash "$top/scripts/package" "${build%/}-package" 2>"$base/package.log" | tail -n 1) ||
    { cat "$base/package.log" >&2; tv_fail "scripts/package failed"; }
[ -f "$deb" ] || tv_fail "scripts/package printed '$deb', not a package"
version=$(dpkg-deb -f "$deb" Version)
case $(basename "$deb") in
    "tarvel_${version}_$(dpkg --print-architecture).deb") ;;
    *) tv_fail "$(basename "$deb") is not named tarvel_VERSION_ARCH.deb for version $version" ;;
esac
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || tv_fail "version $version has not three parts"
tv_say "$deb"

tv_say "validators"
rc=0
lintian --fail-on error,warning --display-info --pedantic "$deb" >"$base/lintian.log" 2>&1 || rc=$?
grep -v '^running with root privileges' "$base/lintian.log" || true
[ $rc -eq 0 ] || tv_fail "lintian found faults"
tv_say "lintian: $(grep -c '^[EWIPX]: ' "$base/lintian.log") tags at any level, pedantic included"
dpkg-deb -x "$deb" "$base/tree"
desktop-file-validate "$base/tree/usr/share/applications/tarvel.desktop" ||
    tv_fail "desktop-file-validate found faults"
appstreamcli validate --no-net "$base"/tree/usr/share/metainfo/*.metainfo.xml ||
    tv_fail "appstreamcli found faults"

# Every library a program names (NEEDED) must come from a package in Depends.
depends=" $(dpkg-deb -f "$deb" Depends | sed -E 's/\([^)]*\)//g; s/[,|]/ /g' | tr -s ' ') "
for program in "$base"/tree/usr/bin/*; do
    covered=()
    for library in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        path=$(ldd "$program" | awk -v lib="$library" '$1 == lib {print $3; exit}')
        [ -f "$path" ] || tv_fail "$(basename "$program") needs $library, which is not installed here"
        owner=
        for candidate in "$path" "${path#/usr}" "/usr$path" "$(realpath "$path")"; do
            owner=$(dpkg -S "$candidate" 2>/dev/null | sed -n '1s/:.*//p') && [ -n "$owner" ] && break
        done
        [ -n "$owner" ] || tv_fail "no package owns $path ($library)"
        [[ $depends == *" $owner "* ]] ||
            tv_fail "$(basename "$program") needs $library from $owner, which Depends lacks:$depends"
        covered+=("$library ($owner)")
    done
    tv_say "$(basename "$program") needs ${covered[*]}: all in Depends"
done

tv_say "installing"
installed=1
(cd "$(dirname "$deb")" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    "./$(basename "$deb")" >"$base/apt.log" 2>&1) || { cat "$base/apt.log" >&2; tv_fail "apt-get install failed"; }
dpkg -L tarvel | sort >"$base/files"
tv_say "installed files:"
while read -r path; do [ -d "$path" ] || echo "  $path"; done <"$base/files"
for path in /usr/bin/tarvel /usr/bin/tarvel-serve /usr/share/applications/tarvel.desktop \
    /usr/share/icons/hicolor/{16x16,32x32,48x48,128x128,256x256}/apps/tarvel.png \
    /usr/share/icons/hicolor/scalable/apps/tarvel.svg /usr/share/man/man1/tarvel.1.gz \
    /usr/share/man/man1/tarvel-serve.1.gz /usr/share/doc/tarvel/copyright /usr/share/tarvel/Tarvel.html; do
    grep -qxF "$path" "$base/files" || tv_fail "the package lacks $path"
done
grep -q '^/usr/share/metainfo/.*\.metainfo\.xml$' "$base/files" || tv_fail "the package lacks its metainfo"
# Help looks for the page in ../share/tarvel from the program's folder (a UTF-16 literal).
strings -a -el /usr/bin/tarvel | grep -xF /../share/tarvel >/dev/null || tv_fail "/usr/bin/tarvel does not look in ../share/tarvel for its help"

got=$(/usr/bin/tarvel-serve --version) || tv_fail "tarvel-serve --version failed"
[ "$got" = "tarvel-serve $version" ] || tv_fail "tarvel-serve --version printed '$got'"
got=$(/usr/bin/tarvel-serve --help) || tv_fail "tarvel-serve --help failed"
[[ $got == usage:* ]] || tv_fail "tarvel-serve --help printed '$got'"
rc=0
/usr/bin/tarvel-serve 2>/dev/null || rc=$?
[ $rc -eq 2 ] || tv_fail "tarvel-serve without arguments exited $rc, want 2"

mkdir -p "$base/root"
echo "<h1>installed $version</h1>" >"$base/root/index.htm"
tv_serve_binary() { echo /usr/bin/tarvel-serve; }
tv_window_binary() { echo /usr/bin/tarvel; }
for variant in serve window; do
    tv_start "$variant" unused "$base/root"
    got=$(curl -sS --max-time 10 "$TV_URL/") || tv_fail "curl $TV_URL/ from the installed $variant failed"
    [ "$got" = "<h1>installed $version</h1>" ] || tv_fail "the installed $variant answered '$got'"
    tv_say "installed $variant served $TV_URL/"
    tv_stop_server "$TV_PID"
done

tv_say "purging"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvel >"$base/apt.log" 2>&1 ||
    { cat "$base/apt.log" >&2; tv_fail "apt-get purge failed"; }
installed=0
# Folders may stay when another package owns them or holds files in them.
while read -r path; do
    [ -e "$path" ] || [ -L "$path" ] || continue
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        dpkg -S "$path" >/dev/null 2>&1 && continue
        [ -n "$(ls -A "$path")" ] && continue
    fi
    tv_fail "$path is left after the purge"
done <"$base/files"
tv_say "passed"
