#!/usr/bin/env bash
# What a lookup costs in a live library against the same library embedded: N files (1 KiB of
# text each, in 10 folders) in one vormesta_add_library(DIRECTORY), built twice (VORMESTA_LIVE
# ON and OFF), a C program timing find, at and below over every file. Live is timed settled
# (nothing changed for a while: a stat of each folder and of the file) and right after an edit
# (the edited file read again, into a copy of the look: what was handed out stays).
#
#   bench/live.sh [path/to/vormesta] [files]
set -euo pipefail

tool=$(realpath "${1:-build/vormesta}")
count=${2:-1000}
repo=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-live.XXXXXX")
[ -n "${BENCH_KEEP:-}" ] && echo "work folder: $work" || trap 'rm -rf "$work"' EXIT

python3 - "$work/site" "$count" <<'PYTHON'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    folder = os.path.join(root, f"f{i % 10}")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"{i}.txt"), "w") as out:
        out.write((f"line {i} " * 128)[:1024])
PYTHON

mkdir -p "$work/project"
cat >"$work/project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(live_bench LANGUAGES C)
add_subdirectory("$repo" vormesta)
vormesta_add_library(site BASE_DIR "$work/site" DIRECTORY "$work/site")
add_executable(lookups main.c)
target_link_libraries(lookups PRIVATE site)
CMAKE
cat >"$work/project/main.c" <<'C'
#define _XOPEN_SOURCE 700
#include "vormesta/site.h"
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

/* Microseconds a lookup, over every file: find by path, at by place, below its folder. */
static void time_lookups(const char* when) {
    size_t count = site_count(), i, below = 0, in_folder = 0;
    double start = now(), found, placed;
    for (i = 0; i < count; ++i)
        if (!site_find(site_at(i)->path))
            exit(1);
    found = now();
    for (i = 0; i < count; ++i)
        if (!site_at(i))
            exit(1);
    placed = now();
    for (i = 0; i < 100; ++i)
        below += site_below("f3", &in_folder) != NULL;
    /* find's loop calls at too. */
    printf("%-22s find %8.2f us   at %8.2f us   below (%zu files) %8.2f us\n", when,
           ((found - start) - (placed - found)) * 1e6 / count, (placed - found) * 1e6 / count,
           in_folder, (now() - placed) * 1e6 / 100);
}

int main(int argc, char** argv) {
    char path[4096];
    FILE* file;
    time_lookups(argc > 2 ? argv[2] : "embedded");
    if (argc < 3)
        return 0;
    sleep(3); /* a while after the last change: settled */
    time_lookups("live, settled");
    snprintf(path, sizeof path, "%s/f0/0.txt", argv[1]);
    file = fopen(path, "ab");
    fputs("edited", file);
    fclose(file);
    {
        double start = now();
        site_find("f0/0.txt");
        printf("%-22s find %8.2f us (one call: the file read again, the look copied)\n",
               "live, after an edit",
               (now() - start) * 1e6);
    }
    return 0;
}
C
for mode in OFF ON; do
    cmake -S "$work/project" -B "$work/build-$mode" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DVORMESTA_EXECUTABLE="$tool" -DVORMESTA_LIVE=$mode >/dev/null
    cmake --build "$work/build-$mode" >/dev/null
done
echo "$count files"
"$work/build-OFF/lookups" "$work/site"
"$work/build-ON/lookups" "$work/site" live
