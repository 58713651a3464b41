#!/usr/bin/env bash
# What a library of embedded files costs the whole build, against `objcopy -I binary` and a link
# of the same program, in the same run: a C++ program that reads one file from
# vormesta_add_library, built with Ninja and g++ -O2, the file 1 MiB, 64 MiB and 1 GiB. For each:
# the first build, the rebuild after a same-size edit, the step alone on the file (time and peak
# memory), and the build tree's size against the data's.
#
#   bench/library.sh [path/to/vormesta] [sizes in MiB...]
set -euo pipefail

tool=$(realpath "${1:-build/vormesta}")
shift || true
sizes=("${@:-1 64 1024}")
read -r -a sizes <<<"${sizes[*]}"
step="$(dirname "$tool")/vormesta-step"
repo=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-library.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs a command; prints its wall time in seconds.
seconds() {
    python3 - "$@" <<'PYTHON'
import subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(f"{time.monotonic() - start:.2f}")
PYTHON
}

# A command's own wall time (s) and peak memory (MiB), as GNU time reads them off the process
# (a measure taken from Python would count the interpreter's pages the child was forked with).
timed() {
    /usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -1 |
        awk '{ printf "%.2f s | %.1f MiB", $1, $2 / 1024 }'
}

edit() { printf 'X' | dd of="$1" bs=1 seek=7 conv=notrunc status=none; }

echo "$(date -u +%Y-%m-%d), $(nproc) cores, $(uname -m), g++ $(g++ -dumpversion), a process doing nothing: $(timed /bin/true | cut -d'|' -f2)"
echo
echo "| data | vormesta first build | objcopy + link | vormesta same-size edit | objcopy + relink | the step alone | its peak memory | build tree / data |"
echo "|---|---|---|---|---|---|---|---|"
for mib in "${sizes[@]}"; do
    dir="$work/$mib"
    mkdir -p "$dir/peer"
    head -c $((mib << 20)) /dev/urandom >"$dir/blob.bin"
    printf '#include "blob.h"\n#include <cstdio>\nint main() { std::printf("%%d %%zu\\n", blob[%d], sizeof blob); }\n' \
        $((mib << 19)) >"$dir/main.cpp"
    cat >"$dir/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(bench LANGUAGES CXX)
include("$repo/cmake/VormestaEmbed.cmake")
vormesta_add_library(blobs blob.bin)
add_executable(app main.cpp)
target_link_libraries(app PRIVATE blobs)
CMAKE
    cmake -S "$dir" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE=-O2 -DVORMESTA_EXECUTABLE="$tool" >/dev/null
    first=$(seconds cmake --build "$dir/build" -j2)
    "$dir/build/app" >/dev/null

    # The peer: the same program over objcopy's symbols.
    printf 'extern "C" const unsigned char _binary_blob_bin_start[], _binary_blob_bin_end[];\n#include <cstdio>\nint main() { std::printf("%%d %%zu\\n", _binary_blob_bin_start[%d], (size_t)(_binary_blob_bin_end - _binary_blob_bin_start)); }\n' \
        $((mib << 19)) >"$dir/peer/main.cpp"
    cp "$dir/blob.bin" "$dir/peer/blob.bin"
    peer_build() {
        (cd "$dir/peer" && objcopy -I binary -O elf64-x86-64 -B i386:x86-64 \
            --rename-section .data=.rodata,alloc,load,readonly,data,contents blob.bin blob.o &&
            { [[ -f main.o ]] || g++ -O2 -c main.cpp -o main.o; } && g++ main.o blob.o -o app 2>/dev/null)
    }
    peer_first=$(seconds bash -c "$(declare -f peer_build); dir=$dir; peer_build")

    edit "$dir/blob.bin"
    again=$(seconds cmake --build "$dir/build" -j2)
    edit "$dir/peer/blob.bin"
    peer_again=$(seconds bash -c "$(declare -f peer_build); dir=$dir; peer_build")

    alone=$(timed "$step" object "$(echo "$dir"/build/vormesta_probe/CXX/probe.a)" "$dir/blob.bin" \
        blob.bin "$dir/measure.o")
    rm -f "$dir/measure.o"
    tree=$(du -sb "$dir/build" | cut -f1)
    ratio=$(python3 -c "print(f'{$tree / ($mib << 20):.2f}')")
    echo "| $mib MiB | $first s | $peer_first s | $again s | $peer_again s | $alone | $ratio |"
    rm -rf "$dir"
done
