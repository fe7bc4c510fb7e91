# Sourced (not run) by tests/stages/window-net.sh and scripts/screenshot: the
# window program under Xvfb in a network namespace of its own, linked by a veth
# pair to a second namespace that plays the other machine on the network. Both
# ends are made inside the namespaces, so the host's interfaces and routes are
# never touched. Needs root, iproute2, xvfb and imagemagick, and
# tests/clients/servers.sh sourced first.
#
# After nw_up: NW_SERVER and NW_CLIENT, the two namespaces. After nw_start:
# NW_DISPLAY and NW_LOG. nw_down ends what was started and removes both.

NW_SERVER=
NW_CLIENT=
NW_PIDS=()
NW_DISPLAY=
NW_LOG=

# nw_up SERVER_ADDRESS/LEN CLIENT_ADDRESS/LEN [FUNCTION]: both namespaces and
# the link between them (eth0 on each side); the server's default route leads to
# the client. FUNCTION, if given, runs once the namespaces exist, before the link.
nw_up() {
    local tag="tarvel$$"
    NW_SERVER=$tag-server
    ip netns add "$NW_SERVER" || { NW_SERVER=; return 1; }
    NW_CLIENT=$tag-client
    ip netns add "$NW_CLIENT" || { NW_CLIENT=; return 1; }
    [ -z "${3:-}" ] || "$3" || return 1
    ip link add eth0 netns "$NW_SERVER" type veth peer name eth0 netns "$NW_CLIENT" || return 1
    local ns address
    for ns in "$NW_SERVER:$1" "$NW_CLIENT:$2"; do
        address=${ns#*:}
        ns=${ns%%:*}
        ip -n "$ns" link set lo up &&
            ip -n "$ns" addr add "$address" dev eth0 &&
            ip -n "$ns" link set eth0 up || return 1
    done
    ip -n "$NW_SERVER" route add default via "${2%/*}"
}

nw_down() {
    local i
    # The window first, while its display is still there to close on.
    for ((i = ${#NW_PIDS[@]} - 1; i >= 0; i--)); do
        tv_stop "${NW_PIDS[i]}"
    done
    NW_PIDS=()
    [ -z "$NW_CLIENT" ] || ip netns del "$NW_CLIENT" 2>/dev/null || true
    [ -z "$NW_SERVER" ] || ip netns del "$NW_SERVER" 2>/dev/null || true
    NW_CLIENT=
    NW_SERVER=
}

# nw_in_server COMMAND...: runs it in the server's namespace.
nw_in_server() { ip netns exec "$NW_SERVER" "$@"; }

# nw_in_client COMMAND...: runs it in the other machine's namespace.
nw_in_client() { ip netns exec "$NW_CLIENT" "$@"; }

# nw_start PROGRAM WORK PORT ROOT [SHOWN_ROOT [SETTINGS]]: Xvfb, then the window
# program on it, both in the server's namespace, with a profile in WORK that
# starts serving ROOT on PORT as soon as the window opens. With SHOWN_ROOT (a
# name under /srv), ROOT is mounted there for the program alone, so the window
# shows a fixed path. SETTINGS: more lines of the profile's [Defaults] section.
nw_start() {
    local program=$1 work=$2 port=$3 root=$4 shown=${5:-} settings=${6:-}
    mkdir -p "$work/config" "$work/runtime"
    chmod 700 "$work/runtime"
    {
        printf '[Defaults]\nRoot=%s\nChannel=%s\nDefaultURL=index.htm\nAutoStart=1\n' \
            "${shown:-$root}" "$port"
        [ -z "$settings" ] || printf '%s\n' "$settings"
    } >"$work/config/tarvel.INI"

    # A free display number: the X sockets' folder is shared with the host.
    local display=99
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    NW_DISPLAY=:$display
    # Started as commands, not through a function: $! is then the process itself
    # (ip netns exec executes it in place), not a subshell that a kill would miss.
    ip netns exec "$NW_SERVER" Xvfb "$NW_DISPLAY" -screen 0 800x600x24 -nolisten tcp \
        >"$work/xvfb.log" 2>&1 &
    NW_PIDS+=($!)
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && break
        sleep 0.1
    done
    [ -e "/tmp/.X11-unix/X$display" ] || return 1

    # ip netns exec gives each command a mount namespace of its own: the mounts
    # below are seen by this program only and end with it.
    NW_LOG=$work/window.log
    ip netns exec "$NW_SERVER" env DISPLAY="$NW_DISPLAY" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" \
        XDG_RUNTIME_DIR="$work/runtime" HOME="$work" NW_ROOT="$root" NW_SHOWN="$shown" \
        bash -c 'if [ -n "$NW_SHOWN" ]; then
                     mount -t tmpfs tarvel-srv /srv && mkdir -p "$NW_SHOWN" &&
                         mount --bind "$NW_ROOT" "$NW_SHOWN" || exit 1
                 fi
                 cd "$HOME" && exec "$0"' "$program" >"$NW_LOG" 2>&1 &
    NW_PIDS+=($!)
    # Serving inside the namespace, then a moment for the window to paint.
    local i
    for i in $(seq 200); do
        nw_in_server bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null && break
        sleep 0.1
    done
    [ "$i" -lt 200 ] || return 1
    sleep 1
}

# nw_screenshot WINDOW FILE: "root" for the whole screen, or a window's title.
nw_screenshot() { nw_in_server env DISPLAY="$NW_DISPLAY" import -window "$1" "$2"; }
