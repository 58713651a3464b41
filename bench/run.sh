#!/usr/bin/env bash
# Measures vormesta over the whole range of input sizes a build meets, each against `xxd -i`
# (the same job, a different tool), a static do-nothing program (the cost of starting any
# process here) and a static program that formats the input through a table and replaces a
# header atomically (the floor for the job). Then what a build feels (1,000 files of 4 KiB, one process
# each), the pace on large inputs against xxd and against dd writing as many bytes, and peak
# memory. Writes the table to stdout and the curve to docs/speed.svg (with gnuplot).
#
#   bench/run.sh [path/to/vormesta]        RUNS=300 sets the runs for small inputs
set -euo pipefail

tool=$(realpath "${1:-build/vormesta}")
svg=$(realpath "$(dirname "$0")/../docs")/speed.svg
runs=${RUNS:-300}
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

printf 'int main(void) { return 0; }\n' >nop.c
cc -O2 -static nop.c -o nop
# The floor for the job: read the input, format its bytes through a table, write a temporary
# beside the header (declaration and closing line too) and rename it over the header. No
# checks, no names, no line layout.
cat >writer.c <<'C'
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
static unsigned char in[1 << 15];
static char out[5 << 15], table[256][5];
int main(int argc, char** argv) {
    (void)argc;
    for (int b = 0; b < 256; b++)
        snprintf(table[b], 5, "0x%02X", b), table[b][4] = ',';
    int from = open(argv[1], O_RDONLY), to = open(".floor.tmp", O_WRONLY | O_CREAT | O_EXCL, 0666);
    ssize_t got;
    static const char head[] = "const unsigned char floor[] = {\n", tail[] = "};\n";
    if (write(to, head, sizeof head - 1) < 0)
        return 1;
    while ((got = read(from, in, sizeof in)) > 0) {
        for (ssize_t i = 0; i < got; i++)
            for (int k = 0; k < 5; k++)
                out[5 * i + k] = table[in[i]][k];
        if (write(to, out, 5 * (size_t)got) < 0)
            return 1;
    }
    return write(to, tail, sizeof tail - 1) < 0 || close(to) != 0 || rename(".floor.tmp", argv[2]) != 0;
}
C
cc -O2 -static writer.c -o writer

# Median wall times in milliseconds of `count` runs of each command, through hyperfine. The
# commands take turns in up to six rounds, so that the machine's drift over time hits them alike.
medians_ms() {
    local count=$1; shift
    local rounds=$((count < 6 ? count : 6))
    rm -f t*.json
    for ((round = 0; round < rounds; round++)); do
        local i=0
        for command in "$@"; do
            hyperfine -N --style none --warmup 2 --runs $(((count + rounds - 1) / rounds)) \
                --export-json "t$i-$round.json" "$command" >/dev/null 2>&1
            i=$((i + 1))
        done
    done
    python3 - "$#" "$rounds" <<'PY'
import json, statistics, sys
commands, rounds = int(sys.argv[1]), int(sys.argv[2])
for i in range(commands):
    times = [t for r in range(rounds)
             for t in json.load(open(f"t{i}-{r}.json"))["results"][0]["times"]]
    print("%.3f" % (statistics.median(times) * 1000))
PY
}
median_ms() { medians_ms "$@"; }
ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

echo "| input | vormesta | xxd -i | do-nothing | floor: format and replace | vormesta / floor | xxd -i / vormesta |"
echo "|---|---|---|---|---|---|---|"
: >curve.dat
for size in 0 1K 4K 64K 1M 64M 256M; do
    bytes=$(numfmt --from=iec "$size")
    label=$(sed 's/^0$/0 B/; s/K$/ KiB/; s/M$/ MiB/' <<<"$size")
    head -c "$bytes" /dev/urandom >"in$size.bin"
    count=$runs
    ((bytes >= 64 << 20)) && count=3
    ((bytes >= 1 << 20 && bytes < 64 << 20)) && count=$((runs / 3))
    "$tool" "in$size.bin"
    ./writer "in$size.bin" "floor$size.h"
    read -r -d '' t_tool t_xxd t_nop t_write < <(medians_ms "$count" "$tool in$size.bin" \
        "xxd -i in$size.bin in$size.xxd" ./nop "./writer in$size.bin floor$size.h") || true
    echo "| $label | $t_tool ms | $t_xxd ms | $t_nop ms | $t_write ms | $(ratio "$t_tool" "$t_write") | $(ratio "$t_xxd" "$t_tool") |"
    # The do-nothing program is measured on small inputs only: NaN leaves no point to draw.
    ((bytes >= 64 << 20)) && t_nop=NaN
    echo "$((bytes > 0 ? bytes : 1)) $t_tool $t_xxd $t_nop $t_write" >>curve.dat
done

mkdir files
for ((i = 0; i < 1000; i++)); do head -c 4096 /dev/urandom >"files/icon$i.bin"; done
t_files=$(median_ms 5 "bash -c 'for f in files/*.bin; do $tool \$f; done'")
t_files_xxd=$(median_ms 5 "bash -c 'for f in files/*.bin; do xxd -i \$f \$f.xxd; done'")
echo
echo "1,000 files of 4 KiB, one process each: vormesta ${t_files} ms, xxd -i ${t_files_xxd} ms"

# Large inputs: the header to /dev/null (the tool's own pace), then to a file against dd.
ln -sf /dev/null in64M.h
t_null=$(median_ms 5 "$tool in64M.bin")
t_xxd_null=$(median_ms 3 "xxd -i in64M.bin /dev/null")
rm in64M.h
"$tool" in64M.bin
header_bytes=$(stat -c %s in64M.h)
t_file=$(median_ms 5 "$tool in64M.bin")
t_dd=$(median_ms 5 "dd if=/dev/zero of=dd.out bs=1M count=$header_bytes iflag=count_bytes status=none")
echo "64 MiB, header to /dev/null: vormesta ${t_null} ms, xxd -i ${t_xxd_null} ms" \
    "($(ratio "$t_xxd_null" "$t_null") times faster; target: at least 100)"
echo "64 MiB, header to a file: vormesta ${t_file} ms, dd of ${header_bytes} bytes ${t_dd} ms" \
    "($(ratio "$t_file" "$t_dd") times dd; target: at most 1.5)"

printf 'peak memory:'
for size in 1K 64K 1M 256M; do printf ' %s KiB for %s,' "$(peak_kib "$tool" "in$size.bin")" "$size"; done
echo " (target: flat)"

if command -v gnuplot >/dev/null; then
    gnuplot <<PLOT
set terminal svg size 720,420 dynamic font "sans,12" background "white"
set output "$svg"
set title "Converting one file, one process (median wall time)"
set logscale xy
set xlabel "input size"
set ylabel "milliseconds"
set xtics ("0 B" 1, "1 KiB" 1024, "4 KiB" 4096, "64 KiB" 65536, "1 MiB" 1048576, "64 MiB" 67108864, "256 MiB" 268435456) rotate by -40
set key top left Left reverse
set grid
# Solid lines only: some SVG renderers join a dashed series to its key sample.
plot "$work/curve.dat" using 1:2 with linespoints lw 2 title "vormesta", \
     "" using 1:3 with linespoints lw 2 title "xxd -i", \
     "" using 1:4 with linespoints lw 1 pt 4 title "static do-nothing program", \
     "" using 1:5 with linespoints lw 1 pt 6 title "floor: static program formatting and replacing"
PLOT
    echo "curve: $svg"
fi
