#!/usr/bin/env bash
# What the header road costs: the tool's header for a file of random bytes, included by one C++
# source that g++ -O2 compiles; the time and peak memory of writing the header and of the
# compile, per size. This is what vormesta_embed, VormestaEmbed and the header road of a
# library ask of the compiler, and why large files belong in objects.
#
#   bench/header.sh [path/to/vormesta] [sizes in MiB...]
set -euo pipefail

tool=$(realpath "${1:-build/vormesta}")
shift || true
sizes=("${@:-1 16 64}")
read -r -a sizes <<<"${sizes[*]}"
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-header.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A command's own wall time and peak memory, as GNU time reads them off the process.
timed() {
    /usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -1 |
        awk '{ printf "%.2f s | %.0f MiB", $1, $2 / 1024 }'
}

echo "$(date -u +%Y-%m-%d), $(nproc) cores, $(uname -m), g++ $(g++ -dumpversion)"
echo
echo "| data | header | the tool: time | its memory | g++ -O2 -c: time | its memory |"
echo "|---|---|---|---|---|---|"
for mib in "${sizes[@]}"; do
    head -c $((mib << 20)) /dev/urandom >"$work/blob.bin"
    tool_cost=$(cd "$work" && timed "$tool" blob.bin)
    printf '#include "blob.h"\nint main() { return blob[%d]; }\n' $((mib << 19)) >"$work/main.cpp"
    compile_cost=$(cd "$work" && timed g++ -O2 -c main.cpp -o main.o)
    header=$(du -m "$work/blob.h" | cut -f1)
    echo "| $mib MiB | $header MiB | $tool_cost | $compile_cost |"
    rm -f "$work"/blob.* "$work/main.o"
done
