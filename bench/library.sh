#!/usr/bin/env bash
# What a library of embedded files costs the whole build, by road and size: a C++ program that
# uses one file from vormesta_add_library, built with Ninja and g++ -O2, the file 1, 16, 64 and
# 256 MiB (and 1 GiB with --huge). For each: the first build's wall time and the peak memory of
# its largest step, and the rebuild after a same-size edit of the file. The header road (the
# tool's header compiled, as MSVC must) is measured up to 16 MiB: past that it takes minutes and
# gigabytes.
#
#   bench/library.sh [path/to/vormesta] [--huge]
set -euo pipefail

tool=$(realpath "${1:-build/vormesta}")
sizes=(1 16 64 256)
[[ ${2:-} == --huge ]] && sizes+=(1024)
repo=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-library.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs a command; prints its wall time and the peak memory of its largest process.
measure() {
    python3 - "$@" <<'PYTHON'
import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024
print(f"{time.monotonic() - start:.2f} s, {peak} MiB")
PYTHON
}

# A project embedding one file of `mib` MiB on `road`.
make_project() {
    local dir=$1 road=$2 mib=$3
    mkdir -p "$dir"
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
        -DCMAKE_CXX_FLAGS_RELEASE=-O2 -DVORMESTA_EXECUTABLE="$tool" \
        -DVORMESTA_LIBRARY_ROAD="$road" >/dev/null
}

echo "| data | road | first build | rebuild after a same-size edit |"
echo "|---|---|---|---|"
for mib in "${sizes[@]}"; do
    for road in assembler header; do
        ((mib > 16)) && [[ $road == header ]] && continue
        dir="$work/$road-$mib"
        make_project "$dir" "$road" "$mib"
        first=$(measure cmake --build "$dir/build" -j2)
        printf 'X' | dd of="$dir/blob.bin" bs=1 seek=7 conv=notrunc status=none
        edit=$(measure cmake --build "$dir/build" -j2)
        "$dir/build/app" >/dev/null
        echo "| $mib MiB | $road | $first | $edit |"
        rm -rf "$dir"
    done
done
