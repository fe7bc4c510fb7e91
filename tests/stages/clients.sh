#!/usr/bin/env bash
# Stage: real clients. curl (without --http0.9), wget, python's http.client and
# ab fetch every page of a test site and a 100 MiB file from each program under
# test; the bytes received must equal the file's (SHA-256), the status lines and
# headers must be what each client expects, refusals must be the error page.
# curl -r fetches ranges, curl -C - and wget -c resume the 100 MiB file, and
# curl -z and --etag-compare revalidate with a 304.
# With folder listing on, wget -r -np, rclone (HTTP remote) and lftp mirror a
# tree of awkward names (tests/clients/site.py --shared) to the same paths and
# bytes, hidden files left behind, and lynx -dump shows every name as text.
# Serving several visitors at once, tarvel-serve goes through curl, wget, the
# ranges and resumes again, and aria2c fetches the 100 MiB file over 8
# connections at once, while two of them are slow readers; every byte exact.
#   bash tests/stages/clients.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: clients.sh BUILD_DIR}
source "$top/tests/clients/servers.sh"

tv_need_apt curl wget python3 apache2-utils rclone lftp lynx aria2
tv_temp base
tv_say "building the test site (100 MiB file included)"
"$PY" "$top/tests/clients/site.py" "$base" --big-mib 100 --shared
manifest=$base/manifest.json
root=$base/root
fetched=$base/fetched
errors=0

check() {  # check CONDITION-RESULT MESSAGE
    if [ "$1" != 0 ]; then
        echo "  FAIL $2" >&2
        errors=$((errors + 1))
    fi
}

# "url sha256 size type" for every URL that must be served.
served_urls() {
    "$PY" -c 'import json,sys
for u, w in json.load(open(sys.argv[1]))["ok"].items(): print(u, w["sha256"], w["size"], w["type"])' \
        "$manifest"
}
manifest_value() { "$PY" -c "import json,sys; print(json.load(open(sys.argv[1]))$1)" "$manifest"; }
error_sha=$(manifest_value '["error_page_sha256"]')
sub_sha=$(manifest_value '["ok"]["/sub/"]["sha256"]')
sha_of() { sha256sum "$1" | cut -d' ' -f1; }

http_date_re='(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] GMT'
http_date_at() { TZ=UTC LC_ALL=C date -d "@$1" '+%a, %d %b %Y %H:%M:%S GMT'; }
http_date_of() { http_date_at "$(stat -c %Y "$1")"; }
# slice_sha FILE FIRST COUNT: the SHA-256 of COUNT bytes of FILE from byte FIRST.
slice_sha() { tail -c +$(($2 + 1)) "$1" | head -c "$3" | sha256sum | cut -d' ' -f1; }
# The answer's header line of that name, as sent (without its CR).
header_line() { tr -d '\r' <"$1" | grep -i "^$2: " || true; }

run_curl() {
    local url sha size type got
    while read -r url sha size type; do
        got=$(curl -sS --max-time 60 -o "$fetched" -w '%{http_code} %{content_type} %{size_download}' \
            "$TV_URL$url") || { check 1 "curl $url failed"; continue; }
        [ "$got" = "200 $type $size" ] && [ "$(sha_of "$fetched")" = "$sha" ]
        check $? "curl $url: got '$got', want '200 $type $size' and the file's bytes"
    done < <(served_urls)

    got=$(curl -sS --max-time 10 -o "$fetched" -w '%{http_code} %{content_type}' "$TV_URL/missing.htm")
    [ "$got" = "404 text/html" ] && [ "$(sha_of "$fetched")" = "$error_sha" ]
    check $? "curl /missing.htm: got '$got', want 404 text/html with the error page"

    got=$(curl -sS --max-time 10 --path-as-is -o "$fetched" -w '%{http_code}' \
        "$TV_URL/../outside-secret.htm")
    [ "$got" = 404 ] && ! grep -q SECRET- "$fetched"
    check $? "curl --path-as-is /../outside-secret.htm: got $got"

    # curl asks with HTTP/1.1. Date and ETag vary: their lines count when they
    # have the right form; Last-Modified is the file's own time.
    got=$(curl -sS --max-time 10 -I "$TV_URL/file-64k.bin" | tr -d '\r' |
        sed -E "s/^Date: $http_date_re\$/Date: (a date)/; s/^ETag: \"[!#-~]+\"\$/ETag: (a strong tag)/" |
        sort | tr '\n' '|')
    [ "$got" = "|Accept-Ranges: bytes|Cache-Control: no-cache|Connection: close|Content-Length: 65536|Content-Type: application/octet-stream|Date: (a date)|ETag: (a strong tag)|HTTP/1.1 200 OK|Last-Modified: $(http_date_of "$root/file-64k.bin")|" ]
    check $? "curl -I /file-64k.bin: headers '$got'"

    got=$(curl -sS --max-time 10 -L -o "$fetched" -w '%{http_code} %{num_redirects} %{url_effective}' \
        "$TV_URL/sub?x=1")
    [ "$got" = "200 1 $TV_URL/sub/?x=1" ] && [ "$(sha_of "$fetched")" = "$sub_sha" ]
    check $? "curl -L /sub?x=1: got '$got', want 200 after one redirect to /sub/?x=1"
}

run_wget() {
    local url sha size type
    for url in /index.htm /docs/guide.htm /file-4m.bin /big.bin; do
        read -r _ sha size type < <(served_urls | grep "^$url ")
        wget -q --timeout=60 --tries=1 -O "$fetched" "$TV_URL$url" && [ "$(sha_of "$fetched")" = "$sha" ]
        check $? "wget $url: not the file's bytes"
    done
    wget -q --timeout=10 --tries=1 -O "$fetched" "$TV_URL/sub" && [ "$(sha_of "$fetched")" = "$sub_sha" ]
    check $? "wget /sub: the redirect to /sub/ was not followed to its page"
    local rc=0
    wget -q --timeout=10 --tries=1 -O "$fetched" "$TV_URL/missing.htm" || rc=$?
    [ $rc -eq 8 ]  # wget's status for an error answer of the server
    check $? "wget /missing.htm: exit status $rc, want 8 (server error response)"
}

# curl_range RANGE FIRST LAST: curl -r RANGE must get a 206 with exactly the
# bytes FIRST..LAST of /file-4m.bin.
curl_range() {
    local wanted=$1 first=$2 last=$3 file=$root/file-4m.bin got range
    got=$(curl -sS --max-time 10 -r "$wanted" -D "$base/head" -o "$fetched" \
        -w '%{http_code} %{size_download}' "$TV_URL/file-4m.bin")
    range=$(header_line "$base/head" Content-Range)
    [ "$got" = "206 $((last - first + 1))" ] &&
        [ "$range" = "Content-Range: bytes $first-$last/$(stat -c %s "$file")" ] &&
        [ "$(sha_of "$fetched")" = "$(slice_sha "$file" "$first" $((last - first + 1)))" ]
    check $? "curl -r $wanted: got '$got' '$range', want 206 with bytes $first-$last of the file"
}

# Ranges, resumed downloads of the 100 MiB file, and revalidation.
run_ranges() {
    local size=4194304 big_size big_sha part half got sha
    curl_range 1000000-1999999 1000000 1999999
    curl_range -5000 $((size - 5000)) $((size - 1))
    curl_range 4000000- 4000000 $((size - 1))

    read -r _ big_sha big_size _ < <(served_urls | grep '^/big.bin ')
    part=$base/resume/big.bin
    mkdir -p "$base/resume"
    # curl: the first half fetched as a range (ending off any block
    # boundary), then curl -C - asks for the rest.
    half=$((big_size / 2 + 12345))
    rm -f "$part"
    got=$(curl -sS --max-time 60 -r 0-$((half - 1)) -o "$part" -w '%{http_code} %{size_download}' \
        "$TV_URL/big.bin")
    [ "$got" = "206 $half" ]
    check $? "curl -r 0-$((half - 1)) /big.bin: got '$got', want 206 $half"
    got=$(curl -sS --max-time 60 -C - -o "$part" -w '%{http_code} %{size_download}' "$TV_URL/big.bin")
    sha=$(sha_of "$part")
    [ "$got" = "206 $((big_size - half))" ] && [ "$sha" = "$big_sha" ]
    check $? "curl -C - /big.bin from $half: got '$got', want 206 $((big_size - half)) and the file's bytes"
    tv_say "$variant: curl -C - resumed /big.bin at byte $half: sha256 $sha (the file's: $big_sha)"

    # wget: the whole download cut short, then wget -c asks for the rest.
    half=$((big_size / 3 + 777))
    truncate -s "$half" "$part"
    (cd "$base/resume" && wget -c -S -q --timeout=60 --tries=1 "$TV_URL/big.bin") 2>"$base/wget.log"
    got=$?
    sha=$(sha_of "$part")
    [ $got -eq 0 ] && [ "$sha" = "$big_sha" ] &&
        grep -q "^ *HTTP/1.1 206 Partial Content" "$base/wget.log" &&
        grep -q "^ *Content-Range: bytes $half-$((big_size - 1))/$big_size" "$base/wget.log"
    check $? "wget -c /big.bin from $half: not a 206 for the rest, or not the file's bytes: $(head -c 600 "$base/wget.log")"
    tv_say "$variant: wget -c resumed /big.bin at byte $half: sha256 $sha (the file's: $big_sha)"

    # Revalidation: the file's own time and its tag get a 304 without a body;
    # a time before the file's gets the whole file.
    got=$(curl -sS --max-time 10 -z "$root/index.htm" -o "$fetched" -w '%{http_code} %{size_download}' \
        "$TV_URL/index.htm")
    [ "$got" = "304 0" ]
    check $? "curl -z (the file's time) /index.htm: got '$got', want 304 0"
    got=$(curl -sS --max-time 10 -z "$(http_date_at $(($(stat -c %Y "$root/index.htm") - 1)))" \
        -o "$fetched" -w '%{http_code} %{size_download}' "$TV_URL/index.htm")
    [ "$got" = "200 1024" ]
    check $? "curl -z (a second before the file's time) /index.htm: got '$got', want 200 1024"
    rm -f "$base/etag"
    curl -sS --max-time 10 --etag-save "$base/etag" -o "$fetched" "$TV_URL/index.htm"
    got=$(curl -sS --max-time 10 --etag-compare "$base/etag" -D "$base/head" -o "$fetched" \
        -w '%{http_code} %{size_download}' "$TV_URL/index.htm")
    [ "$got" = "304 0" ] && [ -s "$base/etag" ] &&
        [ "$(header_line "$base/head" ETag)" = "ETag: $(cat "$base/etag")" ]
    check $? "curl --etag-compare /index.htm: got '$got', want 304 0 with the same ETag"
}

# ab_check N C PATH 'PATTERN'...: every pattern must be in ab's report, and
# unless a pattern counts them, no answer may be other than 2xx.
ab_check() {
    local n=$1 c=$2 path=$3 report pattern
    shift 3
    report=$(timeout 120 ab -n "$n" -c "$c" -s 30 "$TV_URL$path" 2>&1) || {
        check 1 "ab -n $n -c $c $path failed: $(echo "$report" | tail -n 3)"
        return
    }
    for pattern in "Complete requests: *$n\$" "Failed requests: *0\$" "$@"; do
        echo "$report" | grep -Eq "$pattern"
        check $? "ab -n $n -c $c $path: no '$pattern' in its report"
    done
    if [[ "$*" != *Non-2xx* ]] && echo "$report" | grep -q 'Non-2xx'; then
        check 1 "ab -n $n -c $c $path: $(echo "$report" | grep 'Non-2xx')"
    fi
}

run_ab() {
    ab_check 2000 8 /page-1k.htm 'Document Length: *1024 bytes' '^Total transferred: *2[0-9]{6} bytes'
    ab_check 3 1 /big.bin 'Document Length: *104857600 bytes'
    ab_check 200 4 /missing.htm 'Non-2xx responses: *200$' 'Document Length: *94 bytes'
}

# The shared tree through each client that mirrors a listed folder; every
# client is bounded in time, and its files are compared by tests/clients/mirror.py.
run_listing() {
    local shared=$base/shared mirror=$base/mirror rc
    local compare=("$PY" "$top/tests/clients/mirror.py" compare "$shared")
    rm -rf "$mirror" && mkdir -p "$mirror/wget" "$mirror/rclone" "$mirror/lftp" "$mirror/home"
    # Sorted views of the same folder are left out by their query; wget's
    # handling of escapes follows its locale, so that is fixed here.
    (cd "$mirror/wget" && LC_ALL=C.UTF-8 timeout 120 wget -r -np -nH -nv --no-iri -e robots=off \
        --tries=1 --timeout=10 --reject-regex '[?]' "$TV_URL/") 2>"$mirror/wget.log"
    rc=$?
    [ $rc -eq 0 ] && "${compare[@]}" "$mirror/wget" --wget-log "$mirror/wget.log"
    check $? "wget -r -np: exit status $rc, or not the tree (above): $(grep -v '^20.*URL:' "$mirror/wget.log" | head -c 600)"
    HOME=$mirror/home timeout 120 rclone copy -q --config /dev/null --timeout 10s --retries 1 \
        --http-url "$TV_URL/" :http: "$mirror/rclone" 2>"$mirror/rclone.log"
    rc=$?
    [ $rc -eq 0 ] && "${compare[@]}" "$mirror/rclone"
    check $? "rclone copy: exit status $rc, or not the tree (above): $(head -c 600 "$mirror/rclone.log")"
    HOME=$mirror/home timeout 120 lftp -c "set cmd:fail-exit yes; set net:max-retries 1; \
        set net:timeout 10; mirror --no-perms '$TV_URL/' '$mirror/lftp'" >"$mirror/lftp.log" 2>&1
    rc=$?
    [ $rc -eq 0 ] && "${compare[@]}" "$mirror/lftp"
    check $? "lftp mirror: exit status $rc, or not the tree (above): $(head -c 600 "$mirror/lftp.log")"
    local folder
    for folder in / "/sub folder/"; do
        timeout 30 lynx -dump -nolist -display_charset=utf-8 -width=200 \
            "$TV_URL${folder// /%20}" >"$mirror/lynx.txt" 2>&1 &&
            "$PY" "$top/tests/clients/mirror.py" shown "$shared" "$folder" "$mirror/lynx.txt"
        check $? "lynx -dump $folder: the names are not shown as text (above)"
    done
}

# Several visitors at once: aria2c splits the file over 8 connections, which
# the server carries on side by side; beside them two readers that take a
# byte now and then must hold none of it up.
run_concurrent() {
    local big_sha big_size got slow=() rc
    read -r _ big_sha big_size _ < <(served_urls | grep '^/big.bin ')
    for _ in 1 2; do
        curl -sS --max-time 60 --limit-rate 20k -o /dev/null "$TV_URL/big.bin" 2>/dev/null &
        slow+=($!)
    done
    rm -rf "$base/aria2" && mkdir -p "$base/aria2"
    timeout 120 aria2c -q -x 8 -s 8 -k 1M --timeout=30 --max-tries=1 --allow-overwrite=true         -d "$base/aria2" -o big.bin "$TV_URL/big.bin"
    rc=$?
    got=$(sha_of "$base/aria2/big.bin" 2>/dev/null)
    [ $rc -eq 0 ] && [ "$got" = "$big_sha" ]
    check $? "aria2c -x 8 /big.bin: exit status $rc, sha256 $got (the file's: $big_sha)"
    tv_say "$variant at once: aria2c -x 8 fetched /big.bin beside two slow readers: sha256 $got"
    kill "${slow[@]}" 2>/dev/null
    wait "${slow[@]}" 2>/dev/null
}

# From here on a failed check is counted and reported, and the stage goes on.
set +e
variants=$(tv_variants "$build") || exit 1
for variant in $variants; do
    tv_start "$variant" "$build" "$root"
    tv_say "$variant on port $TV_PORT: curl"
    run_curl
    tv_say "$variant: wget"
    run_wget
    tv_say "$variant: ranges, resumed downloads, revalidation (curl, wget)"
    run_ranges
    tv_say "$variant: python http.client"
    "$PY" "$top/tests/clients/fetch.py" "$TV_PORT" "$manifest"
    check $? "python http.client found faults (above)"
    tv_say "$variant: ab"
    run_ab
    kill -0 "$TV_PID" 2>/dev/null
    check $? "$variant exited during the stage"
    tv_stop_server "$TV_PID"

    TV_LIST_FOLDERS=1 tv_start "$variant" "$build" "$base/shared"
    tv_say "$variant listing folders: wget -r, rclone, lftp mirror, lynx -dump"
    run_listing
    kill -0 "$TV_PID" 2>/dev/null
    check $? "$variant exited while listing folders"
    tv_stop_server "$TV_PID"
done

variant=serve
TV_CONCURRENT=1 tv_start "$variant" "$build" "$root"
tv_say "$variant serving several at once on port $TV_PORT: curl, wget, ranges, resumes, aria2c"
run_curl
run_wget
run_ranges
run_concurrent
kill -0 "$TV_PID" 2>/dev/null
check $? "$variant exited while serving several at once"
tv_stop_server "$TV_PID"

[ $errors -eq 0 ] || tv_fail "$errors client checks failed"
tv_say "passed"
