#!/usr/bin/env python3
"""Makes src/reserved_names.inc: the names an embedded array must not take, because a program
that includes the usual headers before the array's header would not compile.

They are every name the covered headers declare or define at file scope in the ordinary name
space (functions, objects, typedefs, enumerators, found by compiling an array of each candidate
name after the headers and keeping those that fail), every macro those headers define, every
macro GCC, Clang and MSVC predefine, the standard's dynamic macros, and `main`. Keywords are
left out: the tool knows them already. Struct, union and enum tags are left out: an array may
share a name with a tag.

Covered: the C standard headers and glibc's POSIX headers with every feature macro on
(_GNU_SOURCE), and the same C headers with MinGW-w64's C runtime headers, each in C and C++.
Needs gcc, g++ (with multilib), clang, clang++ and x86_64-w64-mingw32-gcc/-g++ (Debian's).

    python3 scripts/reserved_names.py > src/reserved_names.inc
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
C_HEADERS = """assert complex ctype errno fenv float inttypes iso646 limits locale math setjmp signal
    stdalign stdarg stdatomic stdbool stddef stdint stdio stdlib stdnoreturn string tgmath
    threads time uchar wchar wctype""".split()
POSIX_HEADERS = """aio arpa/inet cpio dirent dlfcn fcntl fmtmsg fnmatch ftw glob grp iconv langinfo
    libgen monetary mqueue net/if netdb netinet/in netinet/tcp nl_types poll pthread pwd regex
    sched search semaphore spawn strings sys/ipc sys/mman sys/msg sys/resource sys/select
    sys/sem sys/shm sys/socket sys/stat sys/statvfs sys/time sys/times sys/types sys/uio sys/un
    sys/utsname sys/wait syslog tar termios ulimit unistd utime utmpx wordexp""".split()
MINGW_HEADERS = """conio direct dirent dos fcntl io malloc mbctype mbstring memory process search
    share sys/stat sys/timeb sys/types sys/utime unistd""".split()

# (what, C compiler, C++ compiler, headers); every feature macro on.
SETS = [
    ("glibc", "gcc", "g++", C_HEADERS + POSIX_HEADERS),
    ("MinGW-w64", "x86_64-w64-mingw32-gcc", "x86_64-w64-mingw32-g++", C_HEADERS + MINGW_HEADERS),
]
FEATURES = "#define _GNU_SOURCE 1\n"
# Dynamic macros that -dM does not list.
DYNAMIC = """__LINE__ __FILE__ __DATE__ __TIME__ __TIMESTAMP__ __COUNTER__ __INCLUDE_LEVEL__
    __BASE_FILE__ __FILE_NAME__ __STDC__ __STDC_VERSION__ __STDC_HOSTED__ __cplusplus""".split()
# MSVC's predefined macros, beyond those clang predefines for its targets (none in a spelling a
# program could use, but an array may not take them on Windows either).
MSVC = """_WIN32 _WIN64 _MSC_VER _MSC_FULL_VER _MSC_BUILD _MSC_EXTENSIONS _MSVC_LANG
    _MSVC_TRADITIONAL _M_AMD64 _M_X64 _M_IX86 _M_IX86_FP _M_ARM _M_ARM64 _M_ARM64EC _M_ARMT
    _CHAR_UNSIGNED _CPPRTTI _CPPUNWIND _DEBUG _DLL _MT _MANAGED _NATIVE_WCHAR_T_DEFINED
    _WCHAR_T_DEFINED _INTEGRAL_MAX_BITS _OPENMP _PREFAST_ _CONTROL_FLOW_GUARD _ISO_VOLATILE
    _KERNEL_MODE _WINRT_DLL _ATL_VER _MFC_VER _VC_NODEFAULTLIB __STDCPP_THREADS__""".split()
# Compilers and targets whose predefined macros count, in default and strict modes: the list
# is the same whichever host runs the tool, so it covers the hosts a header may be built on.
CLANG_TARGETS = """x86_64-linux-gnu i686-linux-gnu aarch64-linux-gnu arm-linux-gnueabihf
    riscv64-linux-gnu powerpc64le-linux-gnu x86_64-unknown-freebsd x86_64-apple-darwin
    arm64-apple-darwin x86_64-pc-windows-msvc i686-pc-windows-msvc aarch64-pc-windows-msvc
    x86_64-w64-windows-gnu wasm32-unknown-unknown""".split()
PREDEFINING = ([(c, []) for c in ("gcc", "g++")] + [(c, ["-m32"]) for c in ("gcc", "g++")] +
               [(c, [f"--target={t}"]) for c in ("clang", "clang++") for t in CLANG_TARGETS])
IDENTIFIER = re.compile(r"\b[A-Za-z_][A-Za-z0-9_]*\b")


def run(command, source):
    with tempfile.NamedTemporaryFile("w", suffix=source[0], delete=False) as f:
        f.write(source[1])
    done = subprocess.run(command + [f.name], capture_output=True, text=True)
    Path(f.name).unlink()
    return done


def language(compiler):
    cxx = compiler.endswith("++")
    return ["-x", "c++" if cxx else "c", "-std=gnu++17" if cxx else "-std=gnu17"]


def includes(headers):
    return FEATURES + "".join(f"#include <{h}.h>\n" for h in headers)


def usable(compiler, headers):
    """The headers that compile on their own in this language."""
    return [h for h in headers
            if run([compiler, *language(compiler), "-fsyntax-only"], (".c", includes([h])))
            .returncode == 0]


def macros(compiler, source, options=()):
    out = run([compiler, *language(compiler), *options, "-E", "-dM"], (".c", source)).stdout
    return {m.group(1) for m in re.finditer(r"^#define ([A-Za-z_][A-Za-z0-9_]*)", out, re.M)}


def clashing(compiler, headers, candidates):
    """The candidates an array cannot be named after once the headers are included."""
    prologue = includes(headers)
    first = prologue.count("\n") + 1
    body = "".join(f"const unsigned char {n}[] = {{0x00,}};\n" for n in candidates)
    done = run([compiler, *language(compiler), "-fsyntax-only", "-fmax-errors=0",
                "-ftrack-macro-expansion=0"], (".c", prologue + body))
    lines = {int(m.group(1)) for m in re.finditer(r"^[^:\n]+:(\d+):\d+: error:", done.stderr,
                                                   re.M)}
    found = {candidates[line - first] for line in lines if line >= first}
    # What is left must compile as it is, all together: a miscounted line would show here.
    rest = [n for n in candidates if n not in found]
    body = "".join(f"const unsigned char {n}[] = {{0x00,}};\n" for n in rest)
    check = run([compiler, *language(compiler), "-fsyntax-only"], (".c", prologue + body))
    if check.returncode != 0:
        sys.exit(f"{compiler}: the names left do not compile:\n{check.stderr[:2000]}")
    return found


def keywords():
    source = (HERE.parent / "src" / "naming.cpp").read_text()
    table = source[source.index("keywords[] = {"):]
    return set(re.findall(r'"([^"]+)"', table[:table.index("};")]))


def main():
    names, covered = set(), []
    for what, *compilers, headers in SETS:
        for compiler in compilers:
            working = usable(compiler, headers)
            covered.append((what, compiler, working))
            defined = macros(compiler, includes(working))
            names |= defined
            text = run([compiler, *language(compiler), "-E", "-P"], (".c", includes(working)))
            candidates = sorted(set(IDENTIFIER.findall(text.stdout)) - defined - keywords())
            names |= clashing(compiler, working, candidates)
    for compiler, target in PREDEFINING:
        for strict in ("", "-std=c++17" if compiler.endswith("++") else "-std=c17"):
            names |= macros(compiler, "", [*target, *([strict] if strict else [])])
    names |= set(DYNAMIC) | set(MSVC) | {"main"}
    names -= keywords()

    print(f"// Names no array may take: {len(names)} names that these headers declare or define")
    print("// at file scope (functions, objects, typedefs, enumerators, macros), the macros that")
    print("// GCC, Clang and MSVC predefine, the standard's own macros, and main. Made by")
    print("// scripts/reserved_names.py; remake it rather than edit it. Sorted: looked up by")
    print("// binary search. Headers, each set with every feature macro on (_GNU_SOURCE):")
    for what, compiler, working in covered:
        line = f"// headers {what} {compiler}:"
        for h in working:
            if len(line) + len(h) + 3 > 100:
                print(line)
                line = "//  "
            line += f" {h}.h"
        print(line)
    for name in sorted(names):
        print(f'"{name}",')


if __name__ == "__main__":
    main()
