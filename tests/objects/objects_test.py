#!/usr/bin/env python3
"""One row per target: the target's compiler makes the probe, vormesta-step writes a file's bytes
into an object like it, a program is linked from it and a caller that includes the declaration,
and the program runs (under qemu-user or Wine) and checks the bytes and `sizeof` itself; where it
cannot run here, the linked file is read back.

  objects_test.py --step vormesta-step --work DIR TARGET
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
from pathlib import Path

CLANG = "clang-19"
LLD = "ld.lld-19"
WINE = "/usr/lib/wine/wine64"

# The caller: FNV-1a of the array against the file's, and the bound, as the exit status; no C
# library, so that any target links with nothing but the linker. Each target ends the process in
# its own way.
CALLER = r"""#include "blob/data.h"
#define FNV(h, b) (((h) ^ (b)) * 16777619u)
#if defined(_WIN32)
__declspec(dllimport) void __stdcall ExitProcess(unsigned);
#define EXIT(code) ExitProcess(code)
#elif defined(__x86_64__)
#define EXIT(code) __asm__ volatile("syscall" ::"a"(60), "D"(code))
#elif defined(__i386__)
#define EXIT(code) __asm__ volatile("int $0x80" ::"a"(1), "b"(code))
#elif defined(__aarch64__)
#define EXIT(code) do { register long n __asm__("x8") = 93, a __asm__("x0") = code; \
    __asm__ volatile("svc 0" ::"r"(n), "r"(a)); } while (0)
#elif defined(__arm__)
#define EXIT(code) do { register long n __asm__("r7") = 1, a __asm__("r0") = code; \
    __asm__ volatile("svc 0" ::"r"(n), "r"(a)); } while (0)
#elif defined(__riscv)
#define EXIT(code) do { register long n __asm__("a7") = 93, a __asm__("a0") = code; \
    __asm__ volatile("ecall" ::"r"(n), "r"(a)); } while (0)
#elif defined(__s390x__)
#define EXIT(code) do { register long a __asm__("r2") = code; \
    __asm__ volatile("svc 1" ::"r"(a)); } while (0)
#elif defined(__powerpc__)
#define EXIT(code) do { register long n __asm__("r0") = 1, a __asm__("r3") = code; \
    __asm__ volatile("sc" ::"r"(n), "r"(a)); } while (0)
#elif defined(__mips__)
#define EXIT(code) do { register long n __asm__("v0") = 4001, a __asm__("a0") = code; \
    __asm__ volatile("syscall" ::"r"(n), "r"(a)); } while (0)
#endif
#ifdef MAIN
int main(void) {
#else
void start(void) {
#endif
    unsigned hash = 2166136261u;
    for (unsigned long i = 0; i < sizeof blob_data; ++i)
        hash = FNV(hash, blob_data[i]);
    int status = (hash != HASH) | (sizeof blob_data != SIZE) << 1 | ((unsigned long)blob_data % 16 != 0) << 2;
#ifdef MAIN
    return status;
#else
    EXIT(status);
    for (;;) {}
#endif
}
"""


def import_library(machine, folder, run):
    """kernel32.lib with ExitProcess alone (stdcall names carry their argument bytes on x86)."""
    name = "ExitProcess@4" if machine == "x86" else "ExitProcess"
    (folder / "kernel32.def").write_text(f"LIBRARY kernel32.dll\nEXPORTS\n{name}\n")
    dll_machine = {"x64": "i386:x86-64", "x86": "i386", "arm64": "arm64"}[machine]
    return run(["llvm-dlltool-19", "-m", dll_machine, "-d", "kernel32.def", "-l", "kernel32.lib"],
               "dlltool")


def fnv(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h


def elf(triple, qemu, flags=(), link_flags=()):
    """A Linux target: clang for it, lld, the program under qemu-user."""
    compile = [CLANG, f"--target={triple}", "-ffreestanding", "-fno-pic", "-O1", *flags]
    link = [LLD, "-static", "-e", "start", "-o", "program", *link_flags]
    return dict(compile=compile, link=lambda objs: link + objs, run=[qemu, "./program"],
                shared=[LLD, "-shared", "-o", "library.so", "data.o"])


def msvc(triple, machine, run):
    compile = [CLANG, f"--target={triple}", "-ffreestanding", "-O1"]
    link = ["lld-link-19", "/entry:start", "/subsystem:console", "/nodefaultlib", "/out:program.exe",
            f"/machine:{machine}", "kernel32.lib"]
    return dict(compile=compile, link=lambda objs: link + objs, dlltool=machine,
                run=[WINE, "program.exe"] if run else None)


# The probe as the build systems hand it over, in an archive of each kind (a long member name:
# GNU's, MSVC's and BSD's archives keep it elsewhere), or as it is.
PROBE = "probe_object_with_a_name_longer_than_sixteen.o"


def archived(row, *command):
    return dict(row, archive=[*command, "probe.a", PROBE])


TARGETS = {
    # Sections no one names dropped, identical read-only ones folded: the data's pieces stay.
    "x86_64-linux": archived(elf("x86_64-linux-gnu", "qemu-x86_64", link_flags=[
        "--gc-sections", "--icf=all", "--ignore-data-address-equality"]), "llvm-ar-19", "rcs"),
    # Hardened: the program keeps the control-flow features its own objects claim, and the
    # linker names no object that lacks them.
    "x86_64-linux-cet": dict(elf("x86_64-linux-gnu", "qemu-x86_64", ["-fcf-protection"],
                                 ["-z", "cet-report=error"]), feature="x86 feature: IBT, SHSTK"),
    "aarch64-linux-bti": dict(elf("aarch64-linux-gnu", "qemu-aarch64",
                                  ["-mbranch-protection=standard"], ["-z", "bti-report=error"]),
                              feature="aarch64 feature: BTI, PAC"),
    "i386-linux": elf("i386-linux-gnu", "qemu-i386"),
    "aarch64-linux": archived(elf("aarch64-linux-gnu", "qemu-aarch64"), "llvm-ar-19", "rcsT"),
    "armhf-linux": elf("arm-linux-gnueabihf", "qemu-arm", ["-mfloat-abi=hard"]),
    "riscv64-linux": elf("riscv64-linux-gnu", "qemu-riscv64"),
    "s390x-linux": elf("s390x-linux-gnu", "qemu-s390x"),
    "ppc64le-linux": elf("powerpc64le-linux-gnu", "qemu-ppc64le"),
    "mips-linux": elf("mips-linux-gnu", "qemu-mips"),
    "x64-msvc": dict(msvc("x86_64-pc-windows-msvc", "x64", True),
                     archive=["llvm-lib-19", "/out:probe.a", PROBE]),
    "x86-msvc": msvc("i686-pc-windows-msvc", "x86", False),
    "arm64-msvc": msvc("aarch64-pc-windows-msvc", "arm64", False),
    "x64-mingw": dict(compile=["x86_64-w64-mingw32-gcc", "-DMAIN"],
                      link=lambda objs: ["x86_64-w64-mingw32-gcc", "-o", "program.exe", *objs],
                      run=[WINE, "program.exe"],
                      dll=["x86_64-w64-mingw32-gcc", "-shared", "-o", "library.dll", "dll.o"]),
    # A project that needs many sections compiles every object, the probe too, in the
    # big-object form.
    "x64-mingw-bigobj": dict(compile=["x86_64-w64-mingw32-gcc", "-DMAIN", "-Wa,-mbig-obj"],
                             link=lambda objs: ["x86_64-w64-mingw32-gcc", "-o", "program.exe",
                                                *objs],
                             run=[WINE, "program.exe"]),
    "arm64-macos": archived(dict(compile=[CLANG, "--target=arm64-apple-macos11", "-ffreestanding"],
                        link=lambda objs: ["ld64.lld-19", "-arch", "arm64", "-platform_version",
                                           "macos", "11.0", "11.0", "-dylib", "-o", "program",
                                           *objs],
                        run=None), "llvm-ar-19", "--format=darwin", "rcs"),
    "x86_64-macos": dict(compile=[CLANG, "--target=x86_64-apple-macos11", "-ffreestanding"],
                         link=lambda objs: ["ld64.lld-19", "-arch", "x86_64", "-platform_version",
                                            "macos", "11.0", "11.0", "-dylib", "-o", "program",
                                            *objs],
                         run=None),
}


def declaration_rules(folder, step, run, failures):
    """The declaration is left untouched when only the bytes change, so no caller compiles
    again, and rewritten when the size does; the object follows every change."""
    declaration = folder / "blob" / "data.h"
    again = [step, "object", "probe.a", "data.bin", "blob/data.bin", "again.o", "blob/data.h"]
    before = declaration.stat().st_mtime_ns
    data = (folder / "data.bin").read_bytes()
    (folder / "data.bin").write_bytes(data[::-1])
    run(again, "vormesta-step on the same size")
    if declaration.stat().st_mtime_ns != before:
        failures.append("a same-size edit rewrote the declaration")
    if data[::-1] not in (folder / "again.o").read_bytes():
        failures.append("a same-size edit did not reach the object")
    (folder / "data.bin").write_bytes(data + b"more")
    run(again, "vormesta-step on another size")
    if f"blob_data[{len(data) + 4}]" not in declaration.read_text():
        failures.append("a change of size left the declaration's bound")
    (folder / "data.bin").write_bytes(data)


# A row's commands take a second or two. One still running after this has hung: a CI run once
# waited 25 minutes on this file's x64-msvc row, which passes in a second everywhere else.
HUNG_AFTER = 120


def sh(command, cwd, patience=HUNG_AFTER):
    """The command's status and output. Its output goes to a file, not a pipe: a process it
    leaves behind (Wine's services) cannot keep the row waiting for the pipe's end. One that
    hangs is ended with all it started, after what it was doing is printed, and run once more;
    its hang is a failure only where it hangs twice."""
    for attempt in (1, 2):
        with open(Path(cwd) / "command-output.txt", "w+b") as out:
            process = subprocess.Popen(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                       start_new_session=True)
            try:
                status = process.wait(timeout=patience)
                out.seek(0)
                return status, out.read().decode(errors="replace")
            except subprocess.TimeoutExpired:
                print(f"{' '.join(map(str, command))}: still running after {patience} s "
                      f"(attempt {attempt}); what it started:", flush=True)
                subprocess.run(["ps", "-s", str(process.pid), "-o", "pid,stat,wchan:32,args"])
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
    return -signal.SIGKILL, f"hung twice, {patience} s each"


def check(name, step, work):
    row = TARGETS[name]
    tools = [row["compile"][0], row["link"]([])[0]] + (row["run"] or [])[:1]
    missing = [tool for tool in tools if not shutil.which(tool)]
    if missing:
        print(f"{name}: skipped, {' '.join(missing)} not installed")
        return 77
    folder = work / name
    shutil.rmtree(folder, ignore_errors=True)
    (folder / "blob").mkdir(parents=True)
    # Not a multiple of 16, every byte value, the object's tail right after it, and enough of
    # it (4 MiB) that ELF holds it in pieces.
    data = bytes(range(256)) * 16400 + b"tail"
    (folder / "data.bin").write_bytes(data)
    (folder / "probe.c").write_text("const unsigned char vormesta_probe[1] = {1};\n")
    (folder / "caller.c").write_text(CALLER)
    failures = []

    def run(command, what):
        status, out = sh(command, folder)
        if status != 0:
            failures.append(f"{what} failed ({status}): {' '.join(map(str, command))}\n{out}")
        return status == 0

    probe = "probe.a" if "archive" in row else PROBE
    ok = run(row["compile"] + ["-c", "probe.c", "-o", PROBE], "the probe") and \
        ("archive" not in row or run(row["archive"], "the probe's archive")) and \
        run([step, "object", probe, "data.bin", "blob/data.bin", "data.o", "blob/data.h"],
            "vormesta-step") and \
        run(row["compile"] + [f"-DHASH={fnv(data)}u", f"-DSIZE={len(data)}", "-I.", "-c",
                              "caller.c", "-o", "caller.o"], "the caller") and \
        ("dlltool" not in row or import_library(row["dlltool"], folder, run)) and \
        run(row["link"](["caller.o", "data.o"]), "the link")
    if ok and name == "x86_64-linux":
        declaration_rules(folder, step, run, failures)
    if ok and "feature" in row:
        status, notes = sh(["llvm-readelf-19", "-n", "program"], folder)
        if row["feature"] not in notes:
            failures.append(f"the program lost its hardening ({row['feature']}):\n{notes}")
    if ok and row["run"]:
        status, out = sh(row["run"], folder)
        if status != 0:
            failures.append(f"the program says {status} (1: other bytes, 2: other size, "
                            f"4: not aligned): {out}")
    elif ok:
        # Not run here: the linked file holds the bytes where the symbol is.
        program = next(p for p in (folder / "program.exe", folder / "program") if p.exists())
        if data not in program.read_bytes():
            failures.append("the linked program does not hold the bytes")
    if ok and "shared" in row:
        # A shared library that links the object exports no array.
        run(row["shared"], "the shared library")
        status, symbols = sh(["llvm-nm-19", "-D", "--defined-only", "library.so"], folder)
        if "blob_data" in symbols:
            failures.append(f"a shared library exports the array:\n{symbols}")
    if ok and "dll" in row:
        # GNU ld exports every symbol of a DLL that marks none: told, it leaves the array out.
        run([step, "object", "--linker", "gnu-ld", probe, "data.bin", "blob/data.bin", "dll.o"],
            "vormesta-step for GNU ld")
        run(row["dll"], "the DLL")
        status, exports = sh(["llvm-objdump-19", "-p", "library.dll"], folder)
        if status != 0 or "blob_data" in exports:
            failures.append(f"a DLL exports the array:\n{exports[-1500:]}")
    for failure in failures:
        print(f"{name}: {failure}")
    print(f"{name}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


# Large data on x86-64, past what a small code model reaches from the code: sparse files of
# these sizes (GiB), each in an object, linked by each linker with a program that calls puts
# through its PLT and reads each array's first, middle and last bytes.
GIB = 1 << 30
LARGE = {"2gib_less_64": [2 * GIB - 64], "two_1_25gib": [GIB * 5 // 4] * 2, "4gib_and_1": [4 * GIB + 1]}
LINKERS = {"gnu": ["gcc"], "gold": ["gcc", "-fuse-ld=gold"], "lld19": [CLANG, "-fuse-ld=lld"]}
LARGE_CALLER = r"""#include <stdio.h>
%s
int main(void) {
    int status = 0;
%s
    puts(status ? "wrong bytes" : "right bytes");
    return status;
}
"""


def marks(size):
    return {0: 1, size // 2: 2, size - 1: 3}


def check_large(name, step, work):
    sizes, linker = LARGE[name.rsplit(".", 1)[0]], LINKERS[name.rsplit(".", 1)[1]]
    if not shutil.which(linker[0]) or not shutil.which("gcc"):
        print(f"large {name}: skipped, {linker[0]} or gcc not installed")
        return 77
    folder = work / ("large-" + name)
    shutil.rmtree(folder, ignore_errors=True)
    (folder / "big").mkdir(parents=True)
    failures = []
    (folder / "probe.c").write_text("const unsigned char vormesta_probe[1] = {1};\n")
    includes, checks, objects = [], [], []
    try:
        subprocess.run(["gcc", "-c", "probe.c", "-o", "probe.o"], cwd=folder, check=True)
        for i, size in enumerate(sizes):
            data = folder / f"data{i}.bin"
            with open(data, "wb") as out:
                out.truncate(size)
                for at, value in marks(size).items():
                    out.seek(at)
                    out.write(bytes([value]))
            subprocess.run([step, "object", "probe.o", data.name, f"big/data{i}.bin", f"data{i}.o",
                            f"big/data{i}.h"], cwd=folder, check=True)
            data.unlink()
            includes.append(f'#include "big/data{i}.h"')
            checks += [f"    status |= sizeof big_data{i} != {size}ull;"]
            checks += [f"    status |= big_data{i}[{at}ull] != {value};"
                       for at, value in marks(size).items()]
            objects.append(f"data{i}.o")
        (folder / "caller.c").write_text(LARGE_CALLER % ("\n".join(includes), "\n".join(checks)))
        # Gigabytes take their time: no watchdog here.
        status, out = sh([*linker, "-O1", "-I.", "caller.c", *objects, "-o", "program"], folder,
                         patience=None)
        if status != 0:
            failures.append(f"the link failed: {out[-2000:]}")
        else:
            status, out = sh(["./program"], folder, patience=None)
            if status != 0 or out.strip() != "right bytes":
                failures.append(f"the program says {status}: {out}")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    for failure in failures:
        print(f"large {name}: {failure}")
    print(f"large {name}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--step", type=Path)
    parser.add_argument("--work", type=Path, default=Path.cwd() / "objects_work")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--list-large", action="store_true")
    parser.add_argument("target", nargs="?")
    opts = parser.parse_args()
    if opts.list or opts.list_large:
        print(";".join(TARGETS) if opts.list else
              ";".join(f"{size}.{linker}" for size in LARGE for linker in LINKERS))
        return 0
    if opts.target in TARGETS:
        return check(opts.target, str(opts.step.resolve()), opts.work)
    return check_large(opts.target, str(opts.step.resolve()), opts.work)


if __name__ == "__main__":
    sys.exit(main())
