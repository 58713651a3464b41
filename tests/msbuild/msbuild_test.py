#!/usr/bin/env python3
"""The NuGet package for Visual Studio, checked with real MSBuild (`dotnet msbuild`): the packed
.nupkg is restored from a folder feed, and App.proj, a C++ project's stand-in, imports its props
and targets. Each row builds a fresh copy, compiled by clang and linked by lld-link as App.proj
says, and checks the files the package made, what MSBuild ran again, and what the program
prints under Wine (x64; the other platforms' programs are linked, not run). The package's
Windows step cannot run here; the rows run the step built for this machine (VormestaStep).
The cmake_* rows build the same program from CMakeLists.txt with clang-cl and lld-link.

  msbuild_test.py --package vormesta.0.1.0.nupkg --step build/vormesta-step --work DIR [ROW]
"""
import argparse
import gzip
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
FILES = {"assets/logo.bin": b"\x89PNG logo", "data/table.bin": bytes(range(256)) + b"tail",
         "data/extra.bin": b"extra", "www/index.html": b"<!doctype html>", "www/index.js": b"js",
         "www/[slug].html": b"slug", "www/drafts/wip.html": b"wip"}
MACHINES = {"x64": 0x8664, "Win32": 0x14C, "ARM64": 0xAA64}


def build(folder, *args, target="Build", platform="x64", configuration="Debug"):
    done = subprocess.run(["dotnet", "msbuild", "App.proj", f"-t:{target}", "-nologo", "-v:n",
                           f"-p:Platform={platform}", f"-p:Configuration={configuration}",
                           f"-p:VormestaPackage={opts.package_root}",
                           f"-p:VormestaStep={opts.step}",
                           f"-p:WindowsSDK_IncludePath={opts.sdk}/um%3B{opts.sdk}/shared",
                           f"-p:SdkCaseOverlay={opts.overlay}", *args],
                          cwd=folder, capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def built(folder, *args, **kwargs):
    """A build that must pass: its log, or the failure with the log's end."""
    status, log = build(folder, *args, **kwargs)
    return log, [] if status == 0 else [f"the build failed:\n{log[-3000:]}"]


def embedded(log):
    return re.findall(r"vormesta: embedding (.+)", log)


def fnv(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return f"{value:x}"


def inflate(coding, packed):
    """A form's bytes as they were: gzip by Python, br and zstd by their own tools."""
    if coding == "gzip":
        return gzip.decompress(packed)
    tool = {"br": ["brotli", "-dc"], "zstd": ["zstd", "-dc"]}[coding]
    return subprocess.run(tool, input=packed, capture_output=True).stdout


def expected_lines(folder, text=False, forms=None):
    """What the program should print: main.c's lines, from the files themselves (and each www
    file's smallest form, from the step's cache in `forms`, checked to inflate to the file)."""
    def line(name, data):
        return f"{name}\t{len(data)}\t{fnv(data)}"
    table = (folder / "data/table.bin").read_bytes()
    lines = [line("header assets_logo", (folder / "assets/logo.bin").read_bytes()),
             line("declared data_table", table + (b"\0" if text else b""))]
    for base, prefix in (("data", "data/"), ("www", "www/")):
        files = [p for p in (folder / base).rglob("*") if p.is_file()]
        files = {p.relative_to(folder / base).as_posix(): p for p in files}
        for name in sorted(n for n in files if not (base == "www" and n.startswith("drafts/"))):
            data = files[name].read_bytes()
            lines.append(line(prefix + name, data))
            kept = [] if not forms or base != "www" else sorted(
                (form.stat().st_size, order, coding, form)
                for order, coding in enumerate(("gzip", "br", "zstd"))
                for form in [forms / f"{hashlib.sha256(data).hexdigest()}.{coding}"]
                if form.is_file() and form.stat().st_size < len(data))
            if kept:  # the smallest form comes first, as the step sorts them
                _, _, coding, form = kept[0]
                packed = form.read_bytes()
                lines.append(line("form " + prefix + name, packed) if inflate(coding, packed) ==
                             data else f"{form} does not inflate to {name}")
    return lines


def program(folder, platform="x64", configuration="Debug", text=False, exe=None, forms=None):
    """The program the build linked: its machine, and on x64 what it prints under Wine."""
    exe = exe or folder / "bin" / platform / configuration / "App.exe"
    if not exe.is_file():
        return [f"no {exe.relative_to(folder)}"]
    data = exe.read_bytes()
    pe = int.from_bytes(data[0x3C:0x40], "little")
    machine = int.from_bytes(data[pe + 4:pe + 6], "little")
    if machine != MACHINES[platform]:
        return [f"the program's machine is {machine:#x}, not {MACHINES[platform]:#x}"]
    if platform != "x64":
        return []  # Wine here runs x64 programs alone
    done = subprocess.run(["wine", str(exe)], capture_output=True,
                          env={**os.environ, "WINEDEBUG": "-all"})
    said = done.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()
    want = expected_lines(folder, text, forms)
    if done.returncode != 0 or said != want:
        return [f"the program says (status {done.returncode}):\n  " + "\n  ".join(said) +
                "\nnot:\n  " + "\n  ".join(want) + "\n" + done.stderr.decode(errors="replace")]
    return []


def row_platform(folder, platform):
    log, failures = built(folder, platform=platform)
    out = folder / "obj" / platform / "Debug/vormesta"
    obj = out / "objects/data/table.bin.obj"
    if not obj.is_file():
        return failures + ["no object for data/table.bin"]
    prefix = b"_" if platform == "Win32" else b""
    if b"\0" + prefix + b"data_table\0" not in obj.read_bytes():
        failures.append(f"the object's symbol is not {prefix + b'data_table'!r}")
    tlog = folder / "obj" / platform / "Debug/tlog/vormesta.write.1.tlog"
    if not tlog.is_file() or str(obj.name) not in tlog.read_text():
        failures.append("the fast up-to-date check's log does not name the object")
    return failures + program(folder, platform)


def row_release(folder):
    """Debug beside Release: each configuration its own outputs, each program whole."""
    failures = built(folder)[1] + built(folder, configuration="Release")[1]
    if embedded(built(folder)[0]):
        failures.append("Debug built again after Release ran its steps")
    return failures + program(folder) + program(folder, configuration="Release")


def row_static_library(folder):
    log, failures = built(folder, "-p:ConfigurationType=StaticLibrary")
    archive = folder / "bin/x64/Debug/App.lib"
    listed = subprocess.run(["llvm-lib-19", "/list", str(archive)], capture_output=True,
                            text=True).stdout if archive.is_file() else ""
    if not re.search(r"objects/data/table\.bin\.obj", listed) or "main.obj" not in listed or \
            "Link: " in log:
        failures.append(f"the library does not hold main.obj and the data:\n{listed}{log[-2000:]}")
    return failures


def row_no_change(folder):
    failures = built(folder)[1]
    exe = folder / "bin/x64/Debug/App.exe"
    linked = exe.stat().st_mtime_ns if exe.is_file() else 0
    log, failures = built(folder)
    if embedded(log):
        failures.append(f"a build with no change ran the step for {embedded(log)}")
    for target in ("_VormestaRun", "_VormestaIndex", "ClCompile", "Link"):
        if f'Skipping target "{target}" because all output files are up-to-date' not in log:
            failures.append(f"a build with no change ran {target}:\n{log[-2000:]}")
    if exe.stat().st_mtime_ns != linked:
        failures.append("a build with no change linked again")
    return failures


def row_one_file_edit(folder):
    failures = built(folder)[1]
    table = folder / "data/table.bin"
    table.write_bytes(bytes(range(256)) + b"TAIL")
    made = (folder / "obj/x64/Debug/vormesta/objects/data/table.bin.obj").stat().st_mtime
    os.utime(table, (made + 10, made + 10))
    log, failures = built(folder)
    if embedded(log) != ["data/table.bin"]:
        failures.append(f"ran the step for {embedded(log)}")
    return failures + program(folder)


def row_list_change(folder):
    """A file joining the project with an old time (as unzip and robocopy keep), then one
    leaving it: the index follows the list, not the times."""
    failures = built(folder)[1]
    added = folder / "data/old.bin"
    added.write_bytes(b"old")
    os.utime(added, (946684800, 946684800))
    failures += built(folder)[1] + program(folder)
    (folder / "data/extra.bin").unlink()
    return failures + built(folder)[1] + program(folder)


def row_folder(folder):
    """A folder as a library: walked at every build, whatever the files' times."""
    log, failures = built(folder)
    out = folder / "obj/x64/Debug/vormesta/folders/www"
    if not re.search(r"Link: .*folders/www/www\.obj", log):
        failures.append(f"the folder's object is not linked:\n{log[-2000:]}")
    added = folder / "www/a;b [new].html"
    added.write_bytes(b"added")
    os.utime(added, (946684800, 946684800))  # an old time, as unzip or robocopy keep
    (folder / "www/index.js").unlink()
    failures += built(folder)[1]
    if b"added\0" not in (out / "www.obj").read_bytes():
        failures.append("the object does not hold the added file's bytes and NUL")
    return failures + program(folder)


def row_clean(folder):
    build(folder)
    status, log = build(folder, target="Clean")
    left = [p for p in (folder / "obj/x64/Debug").rglob("*") if p.is_file() and
            ("vormesta" in p.parts or p.suffix == ".tlog" and "vormesta" in p.name)]
    return ([] if status == 0 else [log[-2000:]]) + ([f"Clean left {left}"] if left else [])


def row_names(folder):
    (folder / "assets/ä b.txt").write_bytes(b"spaced and not ASCII")
    (folder / "data/spaced name.bin").write_bytes(b"spaced")
    (folder / "data/ünï.bin").write_bytes(b"not ASCII")
    (folder / "data/empty.bin").write_bytes(b"")
    (folder / "www/ä b.html").write_bytes(b"spaced and not ASCII")
    failures = built(folder)[1]
    out = folder / "obj/x64/Debug/vormesta"
    if not (out / "headers/assets/ä b.h").is_file():
        failures.append("no header 'assets/ä b.h'")
    return failures + program(folder)


def row_failing_step(folder):
    (folder / "data/own.h").write_bytes(b"a file that would be its own header")
    status, log = build(folder)
    said = re.search(r"data/own\.h ?: error VORMESTA3: vormesta-step: .*its own header", log)
    return [] if status != 0 and said else [f"no error naming data/own.h:\n{log[-2000:]}"]


def row_text_align(folder):
    """Text and Align changed in the project after a build: the files' steps run again."""
    failures = built(folder)[1]
    (folder / "App.proj").write_text((folder / "App.proj").read_text().replace(
        '<VormestaLibrary Include="data/**" />',
        '<VormestaLibrary Include="data/**" Text="true" Align="64" />'))
    failures += built(folder)[1]
    obj = (folder / "obj/x64/Debug/vormesta/objects/data/table.bin.obj").read_bytes()
    flags = int.from_bytes(obj[56:60], "little")
    if flags & 0x00F00000 != 0x00700000:  # 64-byte alignment
        failures.append(f"the section is not aligned to 64: {flags:#x}")
    return failures + program(folder, text=True)


def row_compress(folder):
    """A folder compressed with gzip, br and zstd, with validators: the program holds each file's
    smallest form, and the package's own step has every coding."""
    proj = folder / "App.proj"
    plain = proj.read_text()
    (folder / "www/big.html").write_bytes(b"<p>compressible</p>\n" * 200)
    proj.write_text(plain.replace('Excludes="drafts/*" />',
                                  'Excludes="drafts/*" Compress="gzip;br;zstd" Etag="true" />'))
    failures = built(folder)[1]
    forms = folder / "obj/x64/Debug/vormesta/folders/www/record.forms"
    failures += program(folder, forms=forms)
    if "form www/big.html" not in "\n".join(expected_lines(folder, forms=forms)):
        failures.append("no gzip form of big.html")
    # The package's own step (the rows run the build machine's) has every coding.
    done = subprocess.run(["wine", str(opts.package_root / "tools/win-x64/vormesta-step.exe"),
                           "codings"], capture_output=True, text=True,
                          env={**os.environ, "WINEDEBUG": "-all"})
    if done.stdout.strip() != "gzip br zstd":
        failures.append(f"the package's step compresses with {done.stdout.strip()!r}")
    return failures


def row_cmake(folder, platform):
    """CMakeLists.txt configured with the MSVC toolchain (clang-cl, lld-link) by Ninja."""
    cpu = {"x64": ("AMD64", "x86_64"), "Win32": ("x86", "i686"), "ARM64": ("ARM64", "aarch64")}
    tools = {"C_COMPILER": "clang-cl-19", "LINKER": "lld-link-19", "AR": "llvm-lib-19",
             "RC_COMPILER": "llvm-rc-19", "MT": "llvm-mt-19"}
    root = HERE.parent.parent
    configure = ["cmake", "-S", ".", "-B", "build", "-G", "Ninja", f"-DVORMESTA_ROOT={root}",
                 f"-DVORMESTA_EXECUTABLE={opts.step.parent / 'vormesta'}",
                 "-DCMAKE_SYSTEM_NAME=Windows", f"-DCMAKE_SYSTEM_PROCESSOR={cpu[platform][0]}",
                 f"-DCMAKE_C_COMPILER_TARGET={cpu[platform][1]}-pc-windows-msvc",
                 # CMake's compiler check would link a program with the C runtime.
                 "-DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY", "-DCMAKE_BUILD_TYPE=Release",
                 "-DCMAKE_C_STANDARD_LIBRARIES=", "-DCMAKE_C_FLAGS=/WX"]
    configure += [f"-DCMAKE_{name}={shutil.which(tool)}" for name, tool in tools.items()]
    for command in (configure, ["cmake", "--build", "build"]):
        done = subprocess.run(command, cwd=folder, capture_output=True, text=True)
        if done.returncode != 0:
            return [f"{' '.join(command[:2])} failed:\n{(done.stdout + done.stderr)[-3000:]}"]
        if command is configure and "vormesta: objects for COFF" not in done.stdout:
            return [f"no objects, the header road taken:\n{(done.stdout + done.stderr)[-3000:]}"]
    return program(folder, platform, exe=folder / "build/App.exe")


def row_embed_only(folder):
    """A project with headers alone: no library, no index, no folder."""
    proj = folder / "App.proj"
    proj.write_text(re.sub(r' *<Vormesta(Library|Folder) Include=.*/>\n', "", proj.read_text()))
    (folder / "main.c").write_text('#include "assets/logo.h"\n'
                                   "int start(void) { return sizeof assets_logo == 9 ? 0 : 1; }\n")
    log, failures = built(folder)
    if embedded(log) != ["assets/logo.bin"]:
        failures.append(f"ran the step for {embedded(log)}:\n{log[-2000:]}")
    return failures


def row_live(folder):
    """Live in Debug alone: Release builds and runs with nothing of it in the index; Debug's index
    walks the folder (compiled against the Windows SDK's headers), and its program, run again
    after an edit, an add, a rename and a remove with no build between, prints the folder as it
    is then."""
    proj = folder / "App.proj"
    proj.write_text(proj.read_text().replace(
        '  <Import Project="$(VormestaPackage)/build/native/vormesta.props" />',
        '  <PropertyGroup>\n    <VormestaLive Condition="\'$(Configuration)\' == \'Debug\'">true'
        '</VormestaLive>\n  </PropertyGroup>\n'
        '  <Import Project="$(VormestaPackage)/build/native/vormesta.props" />'))
    source = str(folder / "obj/x64/{}/vormesta/folders/www/www.c")
    said = "vormesta: live libraries, read from their folders at run time: www"
    log, failures = built(folder, configuration="Release")
    if "VORMESTA_LIVE" in Path(source.format("Release")).read_text() or said in log:
        failures.append("Release's index holds the live walk, or the build says it is live")
    failures += program(folder, configuration="Release")
    log, more = built(folder)
    debug = Path(source.format("Debug"))
    text = debug.read_text() if debug.exists() else ""
    if "#ifdef VORMESTA_LIVE" not in text or str(folder / "www") not in text or said not in log:
        more.append("Debug's index lacks the live walk over the folder, or the build does not "
                    f"say it is live:\n{log[-2000:]}")
    more += program(folder)
    www = folder / "www"
    (www / "index.html").write_bytes(b"<!doctype html><p>edited, no build")
    (www / "added.css").write_bytes(b"p { margin: 0 }")
    (www / "moved").mkdir()
    (www / "index.js").rename(www / "moved/index.js")
    (www / "[slug].html").unlink()
    return failures + more + program(folder)


ROWS = {"x64": lambda f: row_platform(f, "x64"), "win32": lambda f: row_platform(f, "Win32"),
        "arm64": lambda f: row_platform(f, "ARM64"), "release": row_release,
        "static_library": row_static_library, "no_change": row_no_change,
        "one_file_edit": row_one_file_edit, "list_change": row_list_change, "clean": row_clean,
        "names": row_names, "folder": row_folder, "failing_step": row_failing_step,
        "text_align": row_text_align, "embed_only": row_embed_only, "compress": row_compress,
        "live": row_live, "cmake_x64": lambda f: row_cmake(f, "x64"),
        "cmake_win32": lambda f: row_cmake(f, "Win32"),
        "cmake_arm64": lambda f: row_cmake(f, "ARM64")}


SDK = ("10.0.26100.9169", "10.0.26100.0")  # NuGet's Microsoft.Windows.SDK.CPP, and its headers


def case_overlay(include, overlay):
    """A clang overlay that finds the SDK's headers by their names in any case, as Windows does."""
    roots = [{"name": str(include / part), "type": "directory",
              "contents": [{"name": header.name, "type": "file", "external-contents": str(header)}
                           for header in (include / part).iterdir() if header.is_file()]}
             for part in ("um", "shared")]
    overlay.write_text(json.dumps({"version": 0, "case-sensitive": "false", "roots": roots}))


def restore(work):
    """The package as a project gets it: from a folder feed, into a packages folder; the Windows
    SDK's headers from NuGet."""
    feed, packages = work / "feed", work / "packages"
    shutil.rmtree(work, ignore_errors=True)
    feed.mkdir(parents=True)
    shutil.copy(opts.package, feed)
    version = re.search(r"vormesta\.(.+)\.nupkg$", opts.package.name).group(1)
    (work / "NuGet.config").write_text(
        '<?xml version="1.0" encoding="utf-8"?>\n<configuration><packageSources><clear/>'
        f'<add key="local" value="{feed}"/>'
        '<add key="nuget.org" value="https://api.nuget.org/v3/index.json"/>'
        '</packageSources></configuration>\n')
    shutil.copy(HERE / "Restore.csproj", work)
    subprocess.run(["dotnet", "restore", "Restore.csproj", "--packages", str(packages),
                    f"-p:VormestaVersion={version}", f"-p:WindowsSdkPackage={SDK[0]}", "-nologo"],
                   cwd=work, check=True, stdout=subprocess.DEVNULL)
    opts.sdk = packages / "microsoft.windows.sdk.cpp" / SDK[0] / "c/Include" / SDK[1]
    opts.overlay = work / "sdk-overlay.yaml"
    case_overlay(opts.sdk, opts.overlay)
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
              "build/native/probes/x64/probe.obj", "build/native/probes/arm64/probe.obj",
              "README.md"}
    failed = [f"package: lacks {name}" for name in sorted(wanted - listed)]
    opts.package_root = restore(opts.work.resolve())
    for name in opts.rows or ROWS:
        folder = opts.work / "rows" / name
        for path, data in FILES.items():
            (folder / path).parent.mkdir(parents=True, exist_ok=True)
            (folder / path).write_bytes(data)
        for part in ("App.proj", "CMakeLists.txt", "main.c", "crt"):
            copy = shutil.copytree if (HERE / part).is_dir() else shutil.copy
            copy(HERE / part, folder / part)
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
