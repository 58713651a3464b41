#!/usr/bin/env python3
"""The NuGet package for Visual Studio, checked with real MSBuild (`dotnet msbuild`): the packed
.nupkg is restored from a folder feed, and App.proj, a C++ project's stand-in, imports its props
and targets. Each row builds a fresh copy and checks what the package added to the ClCompile,
Link and Lib items, the files it made, and what MSBuild ran again. The package's Windows step
cannot run here; the rows run the step built for this machine (VormestaStep).

  msbuild_test.py --package vormesta.0.1.0.nupkg --step build/vormesta-step --work DIR [ROW]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
FILES = {"main.c": b"int main(void) { return 0; }\n", "assets/logo.bin": b"\x89PNG logo",
         "data/table.bin": bytes(range(256)) + b"tail", "www/index.html": b"<!doctype html>",
         "www/index.js": b"js", "www/[slug].html": b"slug", "www/drafts/wip.html": b"wip"}
MACHINES = {"x64": 0x8664, "Win32": 0x14C, "ARM64": 0xAA64}


def build(folder, *args, target="Build", platform="x64"):
    done = subprocess.run(["dotnet", "msbuild", "App.proj", f"-t:{target}", "-nologo", "-v:n",
                           f"-p:Platform={platform}", f"-p:VormestaPackage={opts.package_root}",
                           f"-p:VormestaStep={opts.step}", *args],
                          cwd=folder, capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def embedded(log):
    return re.findall(r"vormesta: embedding (.+)", log)


def row_platform(folder, platform):
    status, log = build(folder, platform=platform)
    failures = [] if status == 0 else [f"the build failed:\n{log[-3000:]}"]
    out = folder / "obj" / platform / "vormesta"
    header = out / "headers/assets/logo.h"
    obj = out / "objects/data/table.bin.obj"
    declaration = out / "include/data/table.h"
    if not header.is_file() or b"assets_logo[]" not in header.read_bytes():
        failures.append("no header assets/logo.h with assets_logo")
    if not obj.is_file():
        return failures + ["no object for data/table.bin"]
    machine = int.from_bytes(obj.read_bytes()[:2], "little")
    if machine != MACHINES[platform]:
        failures.append(f"the object's machine is {machine:#x}, not {MACHINES[platform]:#x}")
    prefix = b"_" if platform == "Win32" else b""
    if b"\0" + prefix + b"data_table\0" not in obj.read_bytes():
        failures.append(f"the object's symbol is not {prefix + b'data_table'!r}")
    if "data_table[260]" not in declaration.read_text():
        failures.append("the declaration does not say data_table[260]")
    if not re.search(r"Link: .*objects/data/table\.bin\.obj", log):
        failures.append("the object is not among the Link items")
    if not re.search(r"ClCompile: main\.c includes .*vormesta/headers;.*vormesta/include", log):
        failures.append("ClCompile does not get the header and declaration folders")
    index = out / "index/App.c"
    if not re.search(r"ClCompile: .*vormesta/index/App\.c includes", log) or \
            not re.search(r'\{"data/table\.bin", vormesta_App_f[0-9a-f]{16} \+ 0, 260\}',
                          index.read_text()):
        failures.append("the index is not compiled, or does not list data/table.bin")
    tlog = folder / "obj" / platform / "tlog/vormesta.write.1.tlog"
    if not tlog.is_file() or str(obj) not in tlog.read_text():
        failures.append("the fast up-to-date check's log does not name the object")
    return failures


def row_static_library(folder):
    status, log = build(folder, "-p:ConfigurationType=StaticLibrary")
    failures = [] if status == 0 else [f"the build failed:\n{log[-3000:]}"]
    if not re.search(r"Lib: .*objects/data/table\.bin\.obj", log) or "Link: " in log:
        failures.append(f"the object is not a Lib item alone:\n{log[-2000:]}")
    return failures


def row_no_change(folder):
    build(folder)
    status, log = build(folder)
    failures = [f"a build with no change ran the step for {embedded(log)}"] if embedded(log) else []
    if status != 0 or 'Skipping target "_VormestaRun" because all output files are up-to-date' \
            not in log:
        failures.append(f"MSBuild did not skip the step as up to date:\n{log[-2000:]}")
    return failures


def row_one_file_edit(folder):
    build(folder)
    table = folder / "data/table.bin"
    table.write_bytes(bytes(range(256)) + b"TAIL")
    made = (folder / "obj/x64/vormesta/objects/data/table.bin.obj").stat().st_mtime
    os.utime(table, (made + 10, made + 10))
    status, log = build(folder)
    failures = [] if embedded(log) == ["data/table.bin"] else [f"ran the step for {embedded(log)}"]
    if b"TAIL" not in (folder / "obj/x64/vormesta/objects/data/table.bin.obj").read_bytes():
        failures.append("the object does not hold the edited bytes")
    return failures + ([] if status == 0 else [log[-2000:]])


def row_folder(folder):
    """A folder as a library: walked at every build, whatever the files' times."""
    status, log = build(folder)
    out = folder / "obj/x64/vormesta/folders/www"
    failures = [] if status == 0 else [f"the build failed:\n{log[-3000:]}"]
    if not re.search(r"ClCompile: .*folders/www/www\.c includes", log) or \
            not re.search(r"Link: .*folders/www/www\.obj", log):
        failures.append(f"the folder's index is not compiled, or its object not linked:\n{log[-2000:]}")
    added = folder / "www/a;b [new].html"
    added.write_bytes(b"added")
    os.utime(added, (946684800, 946684800))  # an old time, as unzip or robocopy keep
    (folder / "www/index.js").unlink()
    status, log = build(folder)
    index = (out / "www.c").read_text() if status == 0 else ""
    listed = re.findall(r'\{"(.*?)", vormesta_www_data \+ \d+, (\d+)\}', index)
    if listed != [("[slug].html", "4"), ("a;b [new].html", "5"), ("index.html", "15")]:
        failures.append(f"the index lists {listed} after a file added with an old time and one "
                        f"removed:\n{log[-2000:]}")
    if b"added\0" not in (out / "www.obj").read_bytes():
        failures.append("the object does not hold the added file's bytes and NUL")
    return failures


def row_clean(folder):
    build(folder)
    status, log = build(folder, target="Clean")
    left = [p for p in (folder / "obj/x64").rglob("*") if p.is_file()]
    return ([] if status == 0 else [log[-2000:]]) + ([f"Clean left {left}"] if left else [])


def row_names(folder):
    (folder / "assets/ä b.txt").write_bytes(b"spaced and not ASCII")
    (folder / "data/spaced name.bin").write_bytes(b"spaced")
    (folder / "data/empty.bin").write_bytes(b"")
    status, log = build(folder)
    out = folder / "obj/x64/vormesta"
    failures = [] if status == 0 else [f"the build failed:\n{log[-3000:]}"]
    if not (out / "headers/assets/ä b.h").is_file():
        failures.append("no header 'assets/ä b.h'")
    if "data_spaced_name[6]" not in (out / "include/data/spaced name.h").read_text():
        failures.append("no declaration of data_spaced_name[6]")
    if status == 0 and "data_empty[1]" not in (out / "include/data/empty.h").read_text():
        failures.append("an empty file is not declared as one NUL")
    return failures


def row_failing_step(folder):
    (folder / "data/own.h").write_bytes(b"a file that would be its own header")
    status, log = build(folder)
    said = re.search(r"data/own\.h ?: error VORMESTA3: vormesta-step: .*its own header", log)
    return [] if status != 0 and said else [f"no error naming data/own.h:\n{log[-2000:]}"]


def row_text_align(folder):
    (folder / "App.proj").write_text((folder / "App.proj").read_text().replace(
        '<VormestaLibrary Include="data/**" />',
        '<VormestaLibrary Include="data/**" Text="true" Align="64" />'))
    status, log = build(folder)
    out = folder / "obj/x64/vormesta"
    obj = (out / "objects/data/table.bin.obj").read_bytes() if status == 0 else b""
    flags = int.from_bytes(obj[56:60], "little") if obj else 0
    failures = [] if status == 0 else [f"the build failed:\n{log[-3000:]}"]
    if flags & 0x00F00000 != 0x00700000:  # 64-byte alignment
        failures.append(f"the section is not aligned to 64: {flags:#x}")
    if "data_table[261]" not in (out / "include/data/table.h").read_text():
        failures.append("the declaration does not hold the NUL")
    if not re.search(r'\{"data/table\.bin", vormesta_App_f[0-9a-f]{16} \+ 0, 260\}',
                     (out / "index/App.c").read_text()):
        failures.append("the index counts the NUL")
    return failures


ROWS = {"x64": lambda f: row_platform(f, "x64"), "win32": lambda f: row_platform(f, "Win32"),
        "arm64": lambda f: row_platform(f, "ARM64"), "static_library": row_static_library,
        "no_change": row_no_change, "one_file_edit": row_one_file_edit, "clean": row_clean,
        "names": row_names, "folder": row_folder, "failing_step": row_failing_step,
        "text_align": row_text_align}


def restore(work):
    """The package as a project gets it: from a folder feed, into a packages folder."""
    feed, packages = work / "feed", work / "packages"
    shutil.rmtree(work, ignore_errors=True)
    feed.mkdir(parents=True)
    shutil.copy(opts.package, feed)
    version = re.search(r"vormesta\.(.+)\.nupkg$", opts.package.name).group(1)
    (work / "NuGet.config").write_text(
        '<?xml version="1.0" encoding="utf-8"?>\n<configuration><packageSources><clear/>'
        f'<add key="local" value="{feed}"/></packageSources></configuration>\n')
    shutil.copy(HERE / "Restore.csproj", work)
    subprocess.run(["dotnet", "restore", "Restore.csproj", "--packages", str(packages),
                    f"-p:VormestaVersion={version}", "-nologo"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    return packages / "vormesta" / version


def main():
    global opts
    parser = argparse.ArgumentParser()
    parser.add_argument("--package", type=Path, required=True)
    parser.add_argument("--step", type=Path, required=True)
    parser.add_argument("--work", type=Path, required=True)
    parser.add_argument("rows", nargs="*")
    opts = parser.parse_args()
    opts.step = opts.step.resolve()
    with zipfile.ZipFile(opts.package) as package:
        listed = set(package.namelist())
    wanted = {"build/native/vormesta.props", "build/native/vormesta.targets",
              "build/native/vormesta.xml", "tools/win-x64/vormesta.exe",
              "tools/win-x64/vormesta-step.exe", "build/native/probes/x86/probe.obj",
              "build/native/probes/x64/probe.obj", "build/native/probes/arm64/probe.obj"}
    failed = [f"package: lacks {name}" for name in sorted(wanted - listed)]
    opts.package_root = restore(opts.work.resolve())
    for name in opts.rows or ROWS:
        folder = opts.work / "rows" / name
        for path, data in FILES.items():
            (folder / path).parent.mkdir(parents=True, exist_ok=True)
            (folder / path).write_bytes(data)
        shutil.copy(HERE / "App.proj", folder)
        failures = ROWS[name](folder)
        failed += [f"{name}: {failure}" for failure in failures]
        print(f"{name}: {'FAILED' if failures else 'ok'}")
    for failure in failed:
        print(failure)
    passed = len(opts.rows or ROWS) - len({f.split(':')[0] for f in failed} - {"package"})
    print(f"{passed} passed, {len(opts.rows or ROWS) - passed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
