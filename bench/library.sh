#!/usr/bin/env bash
# What embedding costs the whole build: a main.cpp that uses one 4 MiB file, embedded with
# vormesta_embed (the header included by main.cpp) and with vormesta_add_library (the data
# compiled once, in a library), built with Ninja and g++ -O2: the first build, the rebuild after
# touching main.cpp, and the first build with four such files and -j2. Wall times in seconds.
#
#   bench/library.sh [path/to/vormesta]
set -euo pipefail

tool=$(realpath "${1:-build/vormesta}")
repo=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-library.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A project embedding `count` files one way or the other.
make_project() {
    local dir=$1 way=$2 count=$3
    mkdir -p "$dir"
    local files="" includes="" uses=""
    for ((i = 0; i < count; i++)); do
        head -c $((4 << 20)) /dev/urandom >"$dir/blob$i.bin"
        files+=" blob$i.bin"
        includes+="#include \"blob$i.h\"\n"
        uses+=" + blob$i[$i] + sizeof blob$i"
    done
    printf "#include <cstdio>\n$includes int main() { std::printf(\"%%zu\\\\n\", std::size_t{0}$uses); }\n" \
        >"$dir/main.cpp"
    local embed="vormesta_embed(app$files)"
    [[ $way == library ]] && embed="vormesta_add_library(blobs$files)
target_link_libraries(app PRIVATE blobs)"
    cat >"$dir/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(bench LANGUAGES CXX)
include("$repo/cmake/VormestaEmbed.cmake")
add_executable(app main.cpp)
$embed
CMAKE
    cmake -S "$dir" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE=-O2 -DVORMESTA_EXECUTABLE="$tool" >/dev/null
}

seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    python3 -c "print('%.2f' % ($end - $start))"
}

echo "| | vormesta_embed | vormesta_add_library |"
echo "|---|---|---|"
declare -A first touched four
for way in embed library; do
    make_project "$work/$way" "$way" 1
    first[$way]=$(seconds cmake --build "$work/$way/build" -j2)
    touch "$work/$way/main.cpp"
    touched[$way]=$(seconds cmake --build "$work/$way/build" -j2)
    make_project "$work/$way-4" "$way" 4
    four[$way]=$(seconds cmake --build "$work/$way-4/build" -j2)
    "$work/$way/build/app" >/dev/null
done
echo "| first build, one 4 MiB file | ${first[embed]} s | ${first[library]} s |"
echo "| rebuild after touching main.cpp | ${touched[embed]} s | ${touched[library]} s |"
echo "| first build, four 4 MiB files, -j2 | ${four[embed]} s | ${four[library]} s |"
