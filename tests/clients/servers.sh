# Shared by the test stages and the benchmark (source it, do not run it):
# installing what a stage needs, starting the servers under test on a free
# loopback port, and stopping everything a stage started when it exits.
#
# The two programs under test are called variants:
#   serve   tools/tarvel-serve ROOT PORT, always built
#   window  the desktop program under Qt's offscreen platform with a temp
#           profile (AutoStart=1), once it has been built
# After tv_start_VARIANT: TV_PID (the server's process), TV_PORT, TV_URL, and
# TV_LOG (the file holding what it printed). With TV_LIST_FOLDERS=1 the server
# lists folders without a default page (tarvel-serve --list, ListFolders=1 in
# the window's profile), with TV_CONCURRENT=1 it serves several visitors at
# once (--concurrent, Concurrent=1), and with TV_UPLOAD=1 visitors may add
# files (--upload, Upload=1); otherwise the options stay off.
# After tv_netns, tv_start_serve starts tarvel-serve inside a network namespace
# of the stage's own, reached from here at TV_NETNS_ADDRESS.

TV_STAGE=${TV_STAGE:-$(basename "${0:-stage}" .sh)}
TV_PIDS=()
TV_TEMPS=()
TV_NETNS=
TV_NETNS_ADDRESS=
TV_NETNS_LINK=
PY=${PY:-$(command -v /usr/bin/python3 || command -v python3)}

tv_say() { echo "[$TV_STAGE] $*"; }

tv_fail() {
    echo "[$TV_STAGE] FAIL: $*" >&2
    exit 1
}

tv_cleanup() {
    local pid
    for pid in "${TV_PIDS[@]}"; do
        tv_stop "$pid"
    done
    TV_PIDS=()
    tv_netns_remove
    [ ${#TV_TEMPS[@]} -eq 0 ] || rm -rf "${TV_TEMPS[@]}"
    TV_TEMPS=()
}
trap tv_cleanup EXIT
trap 'exit 130' INT TERM

# tv_temp VAR: a new temp folder, removed when the stage ends, in VAR.
tv_temp() {
    local dir
    dir=$(mktemp -d "/tmp/tarvel-$TV_STAGE-XXXXXX") || tv_fail "mktemp failed"
    TV_TEMPS+=("$dir")
    printf -v "$1" '%s' "$dir"
}

# Installs the Debian packages of the arguments that are missing (as root),
# without letting any of them start a service.
tv_need_apt() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    [ "$(id -u)" -eq 0 ] || tv_fail "missing packages (${missing[*]}); run as root"
    tv_say "installing ${missing[*]}"
    local policy=/usr/sbin/policy-rc.d own_policy=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy"
        chmod +x "$policy"
        own_policy=1
    fi
    local rc=0
    DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null || rc=$?
    [ $own_policy -eq 1 ] && rm -f "$policy"
    [ $rc -eq 0 ] || tv_fail "apt-get install ${missing[*]} failed"
}

# tv_need_playwright: playwright-core in tests/browser/node_modules (npm ci, the
# browser itself is Debian's chromium).
tv_need_playwright() {
    local browser_dir
    browser_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../browser" && pwd)
    [ -f "$browser_dir/node_modules/playwright-core/package.json" ] && return 0
    tv_say "installing playwright-core into $browser_dir/node_modules"
    (cd "$browser_dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 timeout 300 npm ci --no-audit --no-fund \
        --loglevel=error) || tv_fail "npm ci in $browser_dir failed"
}

# tv_netns: a network namespace of this stage's own, joined to this one by a
# veth pair on a /24 of 10.201.0.0/16 that no interface here has yet: the
# namespace's side is .1 (TV_NETNS_ADDRESS), this side .2. Needs root.
tv_netns() {
    [ "$(id -u)" -eq 0 ] || tv_fail "a network namespace needs root"
    local net="" i
    for i in $(seq 0 49); do
        net=10.201.$((($$ + i) % 250))
        ip -o -4 addr show | grep -qF " $net." || break
        net=""
    done
    [ -n "$net" ] || tv_fail "no free /24 in 10.201.0.0/16 for a network namespace"
    TV_NETNS=tarvel-$TV_STAGE-$$
    TV_NETNS_LINK=tvh$$
    ip netns add "$TV_NETNS" &&
        ip link add "$TV_NETNS_LINK" type veth peer name tvn$$ &&
        ip link set tvn$$ netns "$TV_NETNS" &&
        ip addr add "$net.2/24" dev "$TV_NETNS_LINK" && ip link set "$TV_NETNS_LINK" up &&
        ip -n "$TV_NETNS" addr add "$net.1/24" dev tvn$$ &&
        ip -n "$TV_NETNS" link set tvn$$ up && ip -n "$TV_NETNS" link set lo up ||
        tv_fail "could not make the network namespace $TV_NETNS"
    TV_NETNS_ADDRESS=$net.1
}

# Removes the namespace (its end of the veth pair goes with it) and our end.
tv_netns_remove() {
    [ -z "$TV_NETNS_LINK" ] || ip link del "$TV_NETNS_LINK" 2>/dev/null || true
    [ -z "$TV_NETNS" ] || ip netns del "$TV_NETNS" 2>/dev/null || true
    TV_NETNS= TV_NETNS_ADDRESS= TV_NETNS_LINK=
}

# A port nothing listens on right now.
# Free on every address, as the programs listen: after a soak, a port free on
# 127.0.0.1 may still be held by a closing connection of another 127.x address.
tv_free_port() {
    "$PY" -c 'import socket; s=socket.socket(); s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])'
}

# Waits until something accepts connections on 127.0.0.1:$1, up to $2 seconds.
tv_wait_port() {
    "$PY" - "$1" "$2" <<'EOF'
import socket, sys, time
port, limit = int(sys.argv[1]), float(sys.argv[2])
end = time.monotonic() + limit
while time.monotonic() < end:
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.05)
sys.exit(1)
EOF
}

tv_stop() {
    local pid=$1 i
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# Stops a server started by tv_start_* and forgets it.
tv_stop_server() {
    local pid=$1 kept=() p
    tv_stop "$pid"
    for p in "${TV_PIDS[@]}"; do
        [ "$p" = "$pid" ] || kept+=("$p")
    done
    TV_PIDS=("${kept[@]}")
}

# tv_bench_args TOP COMMAND [BUILD_DIR] [OPTION...], for the benchmark scripts:
# sets TV_COMMAND (COMMAND and the arguments, for the report), TV_BUILD
# (BUILD_DIR's absolute path, or a Release build made first in TOP/build-bench)
# and TV_ARGS (the options).
tv_bench_args() {
    local top=$1 build=
    TV_COMMAND=$2
    shift 2
    [ $# -eq 0 ] || TV_COMMAND+=$(printf ' %q' "$@")
    if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
        build=$1
        shift
    fi
    TV_ARGS=("$@")
    if [ -n "$build" ]; then
        TV_BUILD=$(cd "$build" && pwd)
    else
        TV_BUILD=$top/build-bench
        cmake -S "$top" -B "$TV_BUILD" -DCMAKE_BUILD_TYPE=Release -DTARVEL_BUILD_TESTS=OFF >/dev/null
        cmake --build "$TV_BUILD" -j"${JOBS:-2}" >/dev/null
    fi
}

# The whole of a plain bench script: what it needs installed, BUILD_DIR or a
# build, "--md FILE" (default bench/NAME.md), the rest to bench/NAME.py.
# Exits 0 when the measurement ran, whatever it found; only a broken run fails.
tv_bench_run() {
    local top=$1 name=$2 md
    shift 2
    bash "$top/scripts/install-deps" bench
    tv_bench_args "$top" "bash bench/$name.sh" "$@"
    md=$top/bench/$name.md
    local args=()
    while [ ${#TV_ARGS[@]} -gt 0 ]; do
        case ${TV_ARGS[0]} in
            --md) md=${TV_ARGS[1]:?--md needs a file}; TV_ARGS=("${TV_ARGS[@]:2}") ;;
            --md=*) md=${TV_ARGS[0]#--md=}; TV_ARGS=("${TV_ARGS[@]:1}") ;;
            *) args+=("${TV_ARGS[0]}"); TV_ARGS=("${TV_ARGS[@]:1}") ;;
        esac
    done
    "$PY" "$top/bench/$name.py" --build "$TV_BUILD" --md "$md" --command "$TV_COMMAND" \
        ${args[@]+"${args[@]}"}
}

tv_serve_binary() { echo "$1/tools/tarvel-serve"; }

# The desktop program, when it has been built in the build folder.
tv_window_binary() {
    local candidate
    for candidate in "$1/ui/tarvel" "$1/tarvel" "$1/bin/tarvel"; do
        [ -f "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; return 0; }
    done
    return 1
}

# The variants present in a build folder, one a line.
tv_variants() {
    [ -x "$(tv_serve_binary "$1")" ] || tv_fail "$(tv_serve_binary "$1") is not built"
    echo serve
    if tv_window_binary "$1" >/dev/null; then
        echo window
    else
        tv_say "the desktop program is not built in $1: its variant is skipped" >&2
    fi
}

# tv_start_serve BUILD ROOT [PORT]: inside the stage's network namespace
# once tv_netns has made one.
tv_start_serve() {
    local build=$1 root=$2 port=${3:-0} log inside=() host=127.0.0.1
    if [ -n "$TV_NETNS" ]; then
        inside=(ip netns exec "$TV_NETNS")
        host=$TV_NETNS_ADDRESS
    fi
    tv_temp log
    log=$log/serve.log
    : >"$log"
    local options=()
    [ "${TV_LIST_FOLDERS:-0}" != 1 ] || options+=(--list)
    [ "${TV_CONCURRENT:-0}" != 1 ] || options+=(--concurrent)
    [ "${TV_UPLOAD:-0}" != 1 ] || options+=(--upload)
    "${inside[@]}" "$(tv_serve_binary "$build")" "${options[@]}" "$root" "$port" >"$log" 2>&1 &
    TV_PID=$!
    TV_PIDS+=("$TV_PID")
    for _ in $(seq 100); do
        grep -q '^Serving ' "$log" && break
        kill -0 "$TV_PID" 2>/dev/null || break
        sleep 0.05
    done
    grep -q '^Serving ' "$log" || tv_fail "tarvel-serve did not start: $(cat "$log")"
    TV_PORT=$(sed -n 's|^Serving .* on http://127\.0\.0\.1:\([0-9]*\)/$|\1|p' "$log")
    TV_URL="http://$host:$TV_PORT"
    TV_LOG=$log
}

# tv_start_window BUILD ROOT [PORT]: the desktop program with a profile of its
# own that starts serving ROOT on PORT as soon as the window opens.
tv_start_window() {
    local build=$1 root=$2 port=${3:-} home binary
    [ -n "$port" ] || port=$(tv_free_port)
    # Found before the cd below, so a build folder given relative to here works.
    binary=$(tv_window_binary "$build") && binary=$(realpath "$binary") ||
        tv_fail "the desktop program is not built in $build"
    tv_temp home
    mkdir -p "$home/config" "$home/runtime"
    chmod 700 "$home/runtime"
    printf '[Defaults]\nRoot=%s\nChannel=%s\nDefaultURL=index.htm\nAutoStart=1\n' \
        "$root" "$port" >"$home/config/tarvel.INI"
    [ "${TV_LIST_FOLDERS:-0}" != 1 ] || echo ListFolders=1 >>"$home/config/tarvel.INI"
    [ "${TV_CONCURRENT:-0}" != 1 ] || echo Concurrent=1 >>"$home/config/tarvel.INI"
    [ "${TV_UPLOAD:-0}" != 1 ] || echo Upload=1 >>"$home/config/tarvel.INI"
    (cd "$home" && exec env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$home/config" \
        XDG_RUNTIME_DIR="$home/runtime" HOME="$home" \
        "$binary" >"$home/window.log" 2>&1) &
    TV_PID=$!
    TV_PIDS+=("$TV_PID")
    tv_wait_port "$port" 20 || tv_fail "tarvel did not serve on port $port: $(cat "$home/window.log")"
    kill -0 "$TV_PID" 2>/dev/null || tv_fail "tarvel exited: $(cat "$home/window.log")"
    TV_PORT=$port
    TV_URL="http://127.0.0.1:$TV_PORT"
    TV_LOG=$home/window.log
}

tv_start() {
    local variant=$1
    shift
    case $variant in
        serve) tv_start_serve "$@" ;;
        window) tv_start_window "$@" ;;
        *) tv_fail "unknown variant $variant" ;;
    esac
}
