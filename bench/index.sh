#!/usr/bin/env bash
# A library of a whole folder at scale: N files (text of 1 to 8 KiB, in 100 folders) in one
# vormesta_add_library(DIRECTORY), without or with compressed forms, a C program that looks one
# up, with Ninja: the configure step, the first build, and the build after an edit of one file
# (same size, then another), and the most memory the library step held in any of them; beside
# it, in the same run, Go's //go:embed of the same files (where `go` is installed).
#
#   bench/index.sh [path/to/vormesta] [files] [linker: bfd, gold, lld...] [codings: "gzip br"]
set -euo pipefail

tool=$(realpath "${1:-build/vormesta}")
count=${2:-10000}
linker=${3:-}
codings=${4:-}
repo=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vormesta-index.XXXXXX")
# BENCH_KEEP=1 keeps the folder, to look into.
[ -n "${BENCH_KEEP:-}" ] && echo "work folder: $work" || trap 'rm -rf "$work"' EXIT

seconds() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null
    python3 -c "print(f'{$EPOCHREALTIME - $start:.1f}')"
}

# The step as the build runs it, its peak memory noted at each run.
mkdir -p "$work/tool"
ln -s "$tool" "$work/tool/vormesta"
cat >"$work/tool/vormesta-step" <<STEP
#!/bin/sh
exec /usr/bin/time -a -o "$work/step-memory" -f %M "$(dirname "$tool")/vormesta-step" "\$@"
STEP
chmod +x "$work/tool/vormesta-step"

mkdir -p "$work/data"
python3 - "$work/data" "$count" <<'PYTHON'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(2000)]
for i in range(count):
    folder = os.path.join(root, f"d{i % 100:02d}")
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(1024, 8192)
    text = b" ".join(rng.choice(words) for _ in range(size // 5))
    with open(os.path.join(folder, f"f{i:05d}.txt"), "wb") as out:
        out.write(text.ljust(size, b" ")[:size])
PYTHON
cat >"$work/main.c" <<'C'
#include <stdio.h>
#include "vormesta/assets.h"
int main(void) {
    const struct vormesta_file* file = assets_find("d07/f00007.txt");
    printf("%zu files, %s: %zu bytes\n", assets_count(), file ? file->path : "none", file ? file->size : 0);
    return !file;
}
C
cat >"$work/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(bench LANGUAGES C)
include("$repo/cmake/VormestaEmbed.cmake")
vormesta_add_library(assets BASE_DIR data DIRECTORY data ${codings:+COMPRESS $codings})
add_executable(app main.c)
target_link_libraries(app PRIVATE assets)
CMAKE
configure=$(seconds cmake -S "$work" -B "$work/build" -G Ninja \
    -DVORMESTA_EXECUTABLE="$work/tool/vormesta" \
    ${linker:+-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=$linker})
first=$(seconds cmake --build "$work/build" -j2)
"$work/build/app"
printf 'X' | dd of="$work/data/d07/f00007.txt" bs=1 seek=3 conv=notrunc status=none
same=$(seconds cmake --build "$work/build" -j2)
printf 'more' >>"$work/data/d07/f00007.txt"
grown=$(seconds cmake --build "$work/build" -j2)
memory=$(sort -n "$work/step-memory" | tail -1)
echo "| files | build | configure | first build | one file edited, same size | one file edited, new size | step's peak memory |"
echo "|---|---|---|---|---|---|---|"
echo "| $count | vormesta${codings:+, COMPRESS $codings}, ${linker:-default} linker | $configure s | $first s | $same s | $grown s | $((memory / 1024)) MiB |"

# The peer: Go's embed.FS over the same files (its cache of the standard library warmed first).
if command -v go >/dev/null; then
    mkdir -p "$work/go"
    cp -r "$work/data" "$work/go/data"
    printf 'module bench\n\ngo 1.19\n' >"$work/go/go.mod"
    cat >"$work/go/main.go" <<'GO'
package main

import (
	"embed"
	"fmt"
)

//go:embed data
var files embed.FS

func main() {
	bytes, err := files.ReadFile("data/d07/f00007.txt")
	fmt.Println(len(bytes), err)
}
GO
    export GOCACHE="$work/go-cache"
    (cd "$work/go" && go build std)
    go_first=$(cd "$work/go" && seconds go build -o app .)
    printf 'X' | dd of="$work/go/data/d07/f00007.txt" bs=1 seek=3 conv=notrunc status=none
    go_same=$(cd "$work/go" && seconds go build -o app .)
    printf 'more' >>"$work/go/data/d07/f00007.txt"
    go_grown=$(cd "$work/go" && seconds go build -o app .)
    echo "| $count | Go $(go env GOVERSION) | - | $go_first s | $go_same s | $go_grown s | - |"
fi
