#!/usr/bin/env bash
# A web root of about 20 MB (JavaScript, CSS, HTML, SVG, JSON, PNG, JPEG and WOFF2 files taken
# from this machine's /usr, in path order): the step's build-time compression against
# `gzip -9n`, `brotli -q 11` and `zstd -19` over the same files (time and sizes), a one-file
# edit; then each web example serving it (libmicrohttpd, cpp-httplib, civetweb, Beast) against
# nginx (gzip_static on over the same gzip forms) and against cpp-httplib's and civetweb's own
# serving of the folder from disk, on 127.0.0.1 with wrk, keep-alive, the servers on core 0 and
# the client on core 1.
#
#   bench/web.sh [path/to/vormesta-step] [seconds per wrk run]
set -euo pipefail

step=$(realpath "${1:-build/vormesta-step}")
duration=${2:-10}
repo=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-web.XXXXXX")
nginx_pid=""
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill $server_pid 2>/dev/null || true
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
root="$work/root"

# Files of one extension from /usr, in path order, up to a total in bytes, into root/<ext>/.
take() {
    local extension=$1 budget=$2 total=0 n=0
    mkdir -p "$root/$extension"
    while IFS= read -r -d '' file; do
        size=$(stat -c %s "$file")
        [[ $extension != js ]] && ((size > 200000)) && continue
        ((total + size > budget)) && break
        cp "$file" "$root/$extension/$n.$extension"
        total=$((total + size))
        n=$((n + 1))
    done < <(find /usr -name "*.$extension" -type f -size +1k -print0 2>/dev/null | sort -z)
}
take js 6500000
take css 200000
take html 4000000
take svg 1200000
take json 2500000
take png 4500000
take jpg 600000
take woff2 800000

echo "$(date -u +%Y-%m-%d), $(nproc) cores, $(uname -m), $(find "$root" -type f | wc -l) files," \
    "$(du -sb "$root" | cut -f1) bytes ($(for d in "$root"/*; do printf '%s %s, ' "$(basename "$d")" "$(du -sb "$d" | cut -f1)"; done | sed 's/, $//'))"
echo

# The step over the root, on the object road (a probe from gcc), every coding.
mkdir -p "$work/out"
"$step" probe-source "$work/out/probe.c" && gcc -c "$work/out/probe.c" -o "$work/out/probe.o"
library() {
    "$step" library - "name	site" "probe	$work/out/probe.o" "object	$work/out/site.o" \
        "source	$work/out/site.c" "header	$work/out/vormesta/site.h" "record	$work/out/record" \
        "folder	$root		gzip br zstd"
}
seconds() {
    local TIMEFORMAT=%R
    { time "$@" >/dev/null; } 2>&1
}
first=$(seconds library)
forms="$work/out/record.forms"
# The files the step compressed (by digest), and the same files for the command-line tools.
mkdir -p "$work/peer"
python3 - "$root" "$forms" "$work/peer/list" <<'PYTHON'
import hashlib, os, sys
root, forms, listing = sys.argv[1:]
have = {name.split(".")[0] for name in os.listdir(forms)}
with open(listing, "w") as out:  # one file for each content, as the step keeps one form
    for folder, _, names in sorted(os.walk(root)):
        for name in sorted(names):
            path = os.path.join(folder, name)
            digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
            if digest in have:
                have.remove(digest)
                out.write(path + "\n")
PYTHON
compressed=$(wc -l <"$work/peer/list")
bytes=$(xargs -d '\n' cat <"$work/peer/list" | wc -c)
peer() { # coding, command...
    local coding=$1
    shift
    local start end
    start=$(date +%s.%N)
    xargs -d '\n' -P "$(nproc)" -n 8 "$@" <"$work/peer/list"
    end=$(date +%s.%N)
    printf '%.2f' "$(echo "$end - $start" | bc)"
}
gzip_time=$(peer gzip gzip -9nk -f)
br_time=$(peer br brotli -q 11 -k -f)
zstd_time=$(peer zstd zstd -19 -q -k -f)
size_of() { du -cb "$@" | tail -1 | cut -f1; }
sum_peer() { sed "s/\$/$1/" "$work/peer/list" | xargs -d '\n' du -cb | tail -1 | cut -f1; }
echo "The step and the command-line tools over the same $compressed files ($bytes bytes: one of each"
echo "content; the rest are compressed formats, skipped), each on $(nproc) cores:"
echo
echo "| coding | vormesta size | tool size | vormesta / tool | tool time |"
echo "|---|---|---|---|---|"
for row in "gzip .gz gzip $gzip_time" "br .br brotli $br_time" "zstd .zst zstd $zstd_time"; do
    read -r coding suffix tool t <<<"$row"
    ours=$(size_of "$forms"/*."$coding")
    theirs=$(sum_peer "$suffix")
    echo "| $coding (${tool}) | $ours | $theirs | $(printf '%.4f' "$(echo "scale=6; $ours / $theirs" | bc)") | ${t} s |"
done
echo
echo "The step, all three codings at once: first build ${first} s."
# An edit of one file: the step compresses that file alone again.
edited=$(head -1 "$work/peer/list")
before=$(ls "$forms" | sort)
printf '/* edited */\n' >>"$edited"
again=$(seconds library)
made=$(comm -13 <(echo "$before") <(ls "$forms" | sort) | wc -l)
echo "One file edited ($(basename "$edited")): ${again} s, $made forms made again (one file, three codings)."
unchanged=$(seconds library)
echo "Nothing changed: ${unchanged} s."
echo

# The servers: each example built over the root; nginx over a copy with each gzip form beside
# its file, as gzip_static wants; cpp-httplib and civetweb serving the root from disk.
for example in web web-httplib web-civetweb web-beast; do
    cmake -S "$repo/examples/$example" -B "$work/$example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVORMESTA_SOURCE_DIR="$repo" -DWEB_SITE_DIR="$root" >/dev/null
    cmake --build "$work/$example" >/dev/null
done
g++ -O2 -std=c++17 "$repo/bench/peers/httplib_disk.cpp" -o "$work/httplib_disk" \
    $(pkg-config --cflags --libs cpp-httplib) -pthread
gcc -O2 "$repo/bench/peers/civetweb_disk.c" -o "$work/civetweb_disk" -lcivetweb -pthread
cp -r "$root" "$work/nginx-root"
(cd "$root" && find . -type f) | while IFS= read -r file; do
    gzip -9n -c "$root/$file" >"$work/nginx-root/$file.gz"
done
mkdir -p "$work/nginx"
chmod -R a+rX "$work" # nginx's worker runs as www-data
cat >"$work/nginx/nginx.conf" <<NGINX
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    include /etc/nginx/mime.types;
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    gzip_static on;
    client_body_temp_path $work/nginx;
    proxy_temp_path $work/nginx;
    fastcgi_temp_path $work/nginx;
    uwsgi_temp_path $work/nginx;
    scgi_temp_path $work/nginx;
    server { listen 127.0.0.1:18081; root $work/nginx-root; }
}
NGINX
taskset -c 0 nginx -c "$work/nginx/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
pids=()
serve() { # port, command...
    local port=$1
    shift
    taskset -c 0 "$@" "$port" >/dev/null 2>&1 &
    pids+=($!)
}
serve 18082 "$work/web/web_server"
serve 18083 "$work/web-httplib/web_server"
serve 18084 "$work/httplib_disk" "$root"
serve 18085 "$work/web-civetweb/web_server"
serve 18086 "$work/civetweb_disk" "$root"
serve 18087 "$work/web-beast/web_server"
server_pid="${pids[*]}"
sleep 1
small=$(find "$root/css" -type f -size -3k | sort | head -1)
large=$(find "$root/js" -type f -size +500k | sort | head -1)
image=$(find "$root/png" -type f -size +20k | sort | head -1)
rps() { # port, path, Accept-Encoding
    taskset -c 1 wrk -t1 -c16 -d"${duration}s" -H "Accept-Encoding: $3" "http://127.0.0.1:$1/$2" |
        awk '/Requests\/sec/ { printf "%.0f", $2 }'
}
echo "wrk -t1 -c16 -d${duration}s, keep-alive, Accept-Encoding as given, requests a second; servers on"
echo "core 0, wrk on core 1. nginx $(nginx -v 2>&1 | sed 's|.*/||') (worker_processes 1, access_log off,"
echo "sendfile on, gzip_static on); libmicrohttpd $(pkg-config --modversion libmicrohttpd) (one thread, epoll),"
echo "cpp-httplib $(pkg-config --modversion cpp-httplib) (its thread pool), civetweb 1.15 (16 threads), Beast"
echo "(Boost 1.74, one thread); \"disk\" is the same library serving the folder from disk"
echo "(set_mount_point, document_root), which sends no compressed form:"
echo
echo "| file | bytes | Accept-Encoding | libmicrohttpd | nginx | cpp-httplib | its disk | civetweb | its disk | Beast |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for row in "$small|gzip, br" "$small|gzip" "$small|" "$large|gzip" "$large|" "$image|gzip"; do
    file=${row%%|*}
    accept=${row#*|}
    path=${file#$root/}
    line="| $path | $(stat -c %s "$file") | ${accept:-none}"
    for port in 18082 18081 18083 18084 18085 18086 18087; do
        line+=" | $(rps $port "$path" "$accept")"
    done
    echo "$line |"
done
