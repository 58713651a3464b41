#!/usr/bin/env bash
# Measures vormesta on one random input against `xxd -i` (the same job, a different tool) and
# against dd writing as many bytes as the header has (the disk's own pace), then compares peak
# memory for a large and a tiny input.
#
#   bench/run.sh [path/to/vormesta] [input MiB, default 64] [large input MiB, default 256]
set -euo pipefail

tool=$(realpath "${1:-build/vormesta}")
mib=${2:-64}
large_mib=${3:-256}
runs=${RUNS:-5}
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Best wall time of $runs runs, in seconds; `prepare` runs untimed before each one.
best_time() {
    local prepare=$1; shift
    local best="" start end t
    for ((i = 0; i < runs; i++)); do
        eval "$prepare"
        start=$EPOCHREALTIME
        "$@" >/dev/null
        end=$EPOCHREALTIME
        t=$(echo "$end - $start" | bc -l)
        if [[ -z $best ]] || (($(echo "$t < $best" | bc -l))); then best=$t; fi
    done
    printf '%.4f' "$best"
}

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
rate() { printf '%.0f' "$(echo "$mib / $1" | bc -l)"; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

head -c $((mib << 20)) /dev/urandom >input.bin
cat input.bin >/dev/null # warm the page cache for every contender alike

ln -sf /dev/null input.h
t_null=$(best_time : "$tool" input.bin)
t_xxd=$(best_time : xxd -i input.bin)

rm -f input.h
t_file=$(best_time 'rm -f input.h' "$tool" input.bin)
header_bytes=$(stat -c %s input.h)
t_dd=$(best_time 'rm -f dd.out' dd if=/dev/zero of=dd.out bs=1M count="$header_bytes" \
    iflag=count_bytes status=none)

head -c $((large_mib << 20)) /dev/urandom >large.bin
head -c 1024 /dev/urandom >tiny.bin
ln -sf /dev/null large.h
m_large=$(peak_kib "$tool" large.bin)
m_tiny=$(peak_kib "$tool" tiny.bin)

echo "input: ${mib} MiB of random bytes; header: ${header_bytes} bytes; best of ${runs} runs"
echo "vormesta to /dev/null:  ${t_null} s  ($(rate "$t_null") MiB/s of input)"
echo "xxd -i to /dev/null:    ${t_xxd} s  ($(rate "$t_xxd") MiB/s of input)"
echo "vormesta to a file:     ${t_file} s"
echo "dd, same size, a file:  ${t_dd} s"
echo "speed-up over xxd -i:   $(ratio "$t_xxd" "$t_null") x   (target: at least 20)"
echo "time against dd:        $(ratio "$t_file" "$t_dd") x   (target: at most 1.5)"
echo "peak memory:            ${m_large} KiB for ${large_mib} MiB, ${m_tiny} KiB for 1 KiB" \
    "(difference $((m_large - m_tiny)) KiB; target: at most 1024)"
