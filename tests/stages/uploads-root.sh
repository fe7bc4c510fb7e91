#!/usr/bin/env bash
# Stage: visitors' uploads on a file system that fills up. It mounts a small
# tmpfs (64 MiB) as the root tarvel-serve --upload serves, so it needs root;
# elsewhere it says why it was skipped and passes (except under CI, where it
# must run). With exact status codes from curl it checks that:
#   - an upload longer than the whole file system gets 413, and one longer than
#     the room left (what is free less the reserve, 5 % of a file system this
#     small) gets 507, both before their body: no 100 Continue, and curl sent
#     next to none of it; one that leaves a little more than the reserve is
#     taken (100 Continue, 201, its exact bytes);
#   - an upload during which the disk fills up (a filler written beside it
#     while it is paced) ends with 507 and leaves nothing: no file, no hidden
#     or temporary one (ls -A), and the space comes back once the filler goes;
#   - the next small upload works: 201 with Location, its exact bytes;
# each with one request at a time and with several visitors at once.
#   bash tests/stages/uploads-root.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: uploads-root.sh BUILD_DIR}
source "$top/tests/clients/servers.sh"

if [ "$(id -u)" -ne 0 ]; then
    [ "${CI:-}" != true ] || tv_fail "a tmpfs cannot be mounted here (root is needed)"
    tv_say "SKIPPED: it mounts a tmpfs as the served root, and mounting needs root; run as root to test"
    exit 0
fi
tv_need_apt curl python3 util-linux

MIB=$((1 << 20))
tv_temp base
mnt=$base/root
files=$base/files
mkdir -p "$mnt" "$files"

# The server goes first, so nothing holds the tmpfs when it is unmounted.
stage_cleanup() {
    local pid
    for pid in "${TV_PIDS[@]}"; do
        tv_stop "$pid"
    done
    TV_PIDS=()
    if mountpoint -q "$mnt"; then
        umount "$mnt" 2>/dev/null || umount -l "$mnt"
    fi
    tv_cleanup
}
trap stage_cleanup EXIT
mount -t tmpfs -o size=64m,mode=0755 tarvel-uploads "$mnt" ||
    tv_fail "could not mount a tmpfs on $mnt (this stage needs to, as root)"

errors=0
check() {  # check CONDITION-RESULT MESSAGE
    if [ "$1" != 0 ]; then
        echo "  FAIL $2" >&2
        errors=$((errors + 1))
    fi
}

# The tmpfs as statfs sees it, in bytes.
fs_total() { stat -f -c '%b %S' "$mnt" | awk '{ printf "%d", $1 * $2 }'; }
fs_free() { stat -f -c '%a %S' "$mnt" | awk '{ printf "%d", $1 * $2 }'; }
fs_used() { stat -f -c '%b %f %S' "$mnt" | awk '{ printf "%d", ($1 - $2) * $3 }'; }
# Every name in the root, hidden ones too, on one line.
names() { ls -A "$mnt" | tr '\n' ' ' | sed 's/ $//'; }

# put FILE NAME [CURL_OPTION...]: curl -T FILE to /NAME, asking for 100 Continue
# and waiting 5 s for it before sending anyway; sets code, sent (body bytes curl
# sent) and took (seconds), the answer's head in $base/head.
put() {
    local file=$1 name=$2 out
    shift 2
    out=$(curl -sS --max-time 30 --expect100-timeout 5 -H 'Expect: 100-continue' \
        -D "$base/head" -o "$base/answer" -w '%{http_code} %{size_upload} %{time_total}' \
        "$@" -T "$file" "$TV_URL/$name" 2>"$base/curl.err") || true
    read -r code sent took <<<"$out"
    code=${code:-none} sent=${sent:-0} took=${took:-0}
}
continued() { tr -d '\r' <"$base/head" | grep -Eq '^HTTP/1\.[01] 100'; }

# refused_before_body WHAT FILE NAME STATUS: the upload gets STATUS at once, with
# no 100 Continue, curl sends next to nothing of its body, and nothing is stored.
refused_before_body() {
    local what=$1 file=$2 name=$3 status=$4 before
    before=$(names)
    put "$file" "$name"
    [ "$code" = "$status" ] && ! continued && [ "$sent" -lt 65536 ] && [ "$(names)" = "$before" ]
    check $? "$what: PUT of $(stat -c %s "$file") bytes: got $code after ${took}s, $sent body bytes sent,$(continued && echo ' a 100 Continue,') names now '$(names)'; want $status before the body, nothing sent or stored"
    tv_say "$what: $code in ${took}s, $sent of $(stat -c %s "$file") body bytes sent"
    rm -f "$mnt/$name"  # so a fault here does not spill into the next checks
}

total=$(fs_total)
reserve=$((total / 20))
tv_say "tmpfs of $total bytes on $mnt, so a reserve of about $reserve"
# Sparse files: what is refused must not be read, so its bytes do not matter.
truncate -s $((total + 16 * MIB)) "$files/huge.bin"
head -c $((24 * MIB)) /dev/urandom >"$files/paced.bin"
head -c 100000 /dev/urandom >"$files/small.bin"

refusals() {
    local free
    refused_before_body "$mode: longer than the file system" "$files/huge.bin" huge.bin 413
    free=$(fs_free)
    truncate -s $((free - reserve / 2)) "$files/tight.bin"
    refused_before_body "$mode: fits what is free, not the reserve" "$files/tight.bin" tight.bin 507

    # Leaving a little more than the reserve: taken, whole.
    head -c $((free - reserve * 3 / 2)) /dev/urandom >"$files/inside.bin"
    put "$files/inside.bin" inside.bin
    [ "$code" = 201 ] && continued && cmp -s "$files/inside.bin" "$mnt/inside.bin"
    check $? "$mode: leaving more than the reserve: PUT of $(stat -c %s "$files/inside.bin") bytes: got $code$(continued || echo ', no 100 Continue'); want 201 and the exact bytes stored"
    rm -f "$mnt/inside.bin"

    fallocate -l $((40 * MIB)) "$mnt/filler"
    truncate -s $(($(fs_free) + 4 * MIB)) "$files/over.bin"
    refused_before_body "$mode: longer than the room left beside a filler" "$files/over.bin" over.bin 507
    rm -f "$mnt/filler"
}

# The disk fills up during an upload: it is paced, and once its body is landing
# (the tmpfs's use grows) a filler takes every block left.
disk_fills() {
    local used landed paced
    used=$(fs_used)
    put "$files/paced.bin" paced.bin --limit-rate 4M &
    paced=$!
    for _ in $(seq 100); do
        [ $(($(fs_used) - used)) -ge $((4 * MIB)) ] && break
        sleep 0.05
    done
    landed=$(($(fs_used) - used))
    dd if=/dev/zero of="$mnt/filler" bs=1M status=none 2>/dev/null
    wait "$paced"
    # put ran in the background: its status is read back from the head it saved.
    code=$(tr -d '\r' <"$base/head" | awk '/^HTTP\/1\.[01] [0-9]+/ { c = $2 } END { print c }')
    tv_say "$mode: the disk filled up after $landed bytes of an upload had landed: answered $code"
    [ "$landed" -ge $((4 * MIB)) ] && [ "$code" = 507 ] && [ "$(names)" = filler ]
    check $? "$mode: disk full during an upload: $landed bytes landed before the filler, answered '$code', names '$(names)'; want 507 and nothing beside the filler"
    rm -f "$mnt/filler"
    for _ in $(seq 50); do
        [ "$(fs_used)" -le "$used" ] && break
        sleep 0.1
    done
    [ "$(fs_used)" -le "$used" ] && [ -z "$(names)" ]
    check $? "$mode: after the full disk: $(fs_used) bytes in use with the filler gone, $used before the upload; names '$(names)'"
}

next_upload() {
    local location
    put "$files/small.bin" small.bin
    location=$(tr -d '\r' <"$base/head" | sed -n 's/^[Ll]ocation: //p')
    [ "$code" = 201 ] && [[ "$location" == */small.bin ]] && cmp -s "$files/small.bin" "$mnt/small.bin" &&
        [ "$(names)" = small.bin ]
    check $? "$mode: the next small upload: got $code, Location '$location', names '$(names)'; want 201, Location .../small.bin and its exact bytes"
    rm -f "$mnt/small.bin"
}

# One request at a time a body holds the thread; several at once it is received
# in the background: each has its own road to a full disk.
for mode in "one at a time" "several at once"; do
    concurrent=0
    [ "$mode" = "one at a time" ] || concurrent=1
    TV_UPLOAD=1 TV_CONCURRENT=$concurrent tv_start serve "$build" "$mnt"
    tv_say "$mode: tarvel-serve --upload$([ $concurrent = 0 ] || echo ' --concurrent') on port $TV_PORT"
    set +e
    refusals
    disk_fills
    next_upload
    kill -0 "$TV_PID" 2>/dev/null
    check $? "$mode: tarvel-serve exited during the stage: $(tail -n 5 "$TV_LOG")"
    set -e
    tv_stop_server "$TV_PID"
    find "$mnt" -mindepth 1 -delete
done
[ $errors -eq 0 ] || tv_fail "$errors upload checks failed"
tv_say "passed"
