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
(_GNU_SOURCE); the same C headers with MinGW-w64's C runtime headers; MinGW-w64's full
<windows.h> with its usual companions; each in C and C++; musl's C and POSIX headers
(musl-gcc); libstdc++'s headers, their global names, with g++ and clang++. Names of libraries
that cannot be installed here (newer glibc, the BSDs, macOS) and of POSIX.1-2024 come from
scripts/reserved_names_extra.txt, kept by hand.

The list only grows: the committed list is read and merged, and no name is ever dropped, so that
an array's name changes only when a name enters the list. The compilers and library versions
read are recorded in the generated file.

Needs gcc, g++ (with multilib), clang, clang++, x86_64-w64-mingw32-gcc/-g++ and musl-gcc
(Debian's g++-multilib, clang, g++-mingw-w64-x86-64, musl-tools).

    python3 scripts/reserved_names.py > src/reserved_names.new && mv src/reserved_names.new src/reserved_names.inc
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
C_HEADERS = [f"{h}.h" for h in """assert complex ctype errno fenv float inttypes iso646 limits locale math setjmp signal
    stdalign stdarg stdatomic stdbool stddef stdint stdio stdlib stdnoreturn string tgmath
    threads time uchar wchar wctype""".split()]
POSIX_HEADERS = [f"{h}.h" for h in """aio arpa/inet cpio dirent dlfcn fcntl fmtmsg fnmatch ftw glob grp iconv langinfo
    libgen monetary mqueue net/if netdb netinet/in netinet/tcp nl_types poll pthread pwd regex
    sched search semaphore spawn strings sys/ipc sys/mman sys/msg sys/resource sys/select
    sys/sem sys/shm sys/socket sys/stat sys/statvfs sys/time sys/times sys/types sys/uio sys/un
    sys/utsname sys/wait syslog tar termios ulimit unistd utime utmpx wordexp""".split()]
MINGW_HEADERS = [f"{h}.h" for h in """conio direct dirent dos fcntl io malloc mbctype mbstring memory process search
    share sys/stat sys/timeb sys/types sys/utime unistd""".split()]
# The full <windows.h> (no WIN32_LEAN_AND_MEAN), and what Windows programs include beside it.
WINDOWS_HEADERS = "winsock2.h ws2tcpip.h windows.h shlobj.h tchar.h commctrl.h".split()
# libstdc++: every C++ standard header of C++20, and its ABI header.
CXX_HEADERS = """algorithm any array atomic barrier bit bitset charconv chrono codecvt compare
    complex concepts condition_variable coroutine deque exception execution filesystem
    forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream
    iterator latch limits list locale map memory memory_resource mutex new numbers numeric
    optional ostream queue random ranges ratio regex scoped_allocator semaphore set
    shared_mutex source_location span sstream stack stdexcept stop_token streambuf string
    string_view syncstream system_error thread tuple type_traits typeindex typeinfo
    unordered_map unordered_set utility valarray variant vector version cassert cctype cerrno
    cfenv cfloat cinttypes climits clocale cmath csetjmp csignal cstdarg cstddef cstdint cstdio
    cstdlib cstring ctime cuchar cwchar cwctype cxxabi.h""".split()

# (what, C compiler, C++ compiler, headers); every feature macro on. None: no such compiler.
SETS = [
    ("glibc", "gcc", "g++", C_HEADERS + POSIX_HEADERS),
    ("MinGW-w64", "x86_64-w64-mingw32-gcc", "x86_64-w64-mingw32-g++", C_HEADERS + MINGW_HEADERS),
    ("Windows", "x86_64-w64-mingw32-gcc", "x86_64-w64-mingw32-g++", WINDOWS_HEADERS),
    ("musl", "musl-gcc", None, C_HEADERS + POSIX_HEADERS),
    ("libstdc++", None, "g++", CXX_HEADERS),
    ("libstdc++", None, "clang++", CXX_HEADERS),
]
EXTRA = HERE / "reserved_names_extra.txt"
LISTING = HERE.parent / "src" / "reserved_names.inc"
# Where each library says its version: (library, macro or macros, header that defines them).
VERSIONS = [("glibc", "gcc", "__GLIBC__.__GLIBC_MINOR__", "features.h"),
            ("MinGW-w64", "x86_64-w64-mingw32-gcc", "__MINGW64_VERSION_STR", "_mingw.h"),
            ("libstdc++", "g++", "_GLIBCXX_RELEASE __GLIBCXX__", "bits/c++config.h")]
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
    return ["-x", "c++" if cxx else "c", "-std=gnu++20" if cxx else "-std=gnu17"]


def all_errors(compiler):
    return ["-ferror-limit=0"] if "clang" in compiler else ["-fmax-errors=0",
                                                          "-ftrack-macro-expansion=0"]


def includes(headers):
    return FEATURES + "".join(f"#include <{h}>\n" for h in headers)


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
    done = run([compiler, *language(compiler), "-fsyntax-only", *all_errors(compiler)],
               (".c", prologue + body))
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


def committed_names():
    """The names of the list as committed: none is ever dropped."""
    if not LISTING.is_file():
        return set()
    return set(re.findall(r'^"(.*?)(?:\\0)?",?$', LISTING.read_text(), re.M))


def extra_names():
    """The hand-kept names: a name and the libraries that declare it, a line each."""
    names = set()
    for line in EXTRA.read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            names.add(line.split()[0])
    return names


def version_of(compiler):
    done = subprocess.run([compiler, "--version"], capture_output=True, text=True)
    return done.stdout.splitlines()[0] if done.returncode == 0 else "not found"


def library_versions():
    found = []
    for library, compiler, macro_names, header in VERSIONS:
        source = f"#include <{header}>\n" + "\n".join(macro_names.split()) + "\n"
        done = run([compiler, *language(compiler), "-E", "-P"], (".c", source))
        values = done.stdout.strip().splitlines()[-len(macro_names.split()):]
        version = " ".join(re.sub(r'[\s"]', "", v) for v in values)
        found.append(f"{library} {version}" if done.returncode == 0 else f"{library} not found")
    musl = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", "musl-dev"],
                          capture_output=True, text=True)
    found.append(f"musl {musl.stdout.strip() or 'unknown'}")
    return found


def offsets_of(names):
    """The names in one sorted block, each closed by a NUL, and where each starts: one
    allocation-free table whose lookups touch only the pages they read."""
    offsets, at = [], 0
    for name in names:
        offsets.append(at)
        at += len(name) + 1
    offsets.append(at)
    return offsets


def main():
    names, covered, compilers = set(), [], set()
    for what, *set_compilers, headers in SETS:
        for compiler in filter(None, set_compilers):
            compilers.add(compiler)
            working = usable(compiler, headers)
            covered.append((what, compiler, working))
            defined = macros(compiler, includes(working))
            names |= defined
            text = run([compiler, *language(compiler), "-E", "-P"], (".c", includes(working)))
            candidates = sorted(set(IDENTIFIER.findall(text.stdout)) - defined - keywords())
            names |= clashing(compiler, working, candidates)
    for compiler, target in PREDEFINING:
        compilers.add(compiler)
        for strict in ("", "-std=c++17" if compiler.endswith("++") else "-std=c17"):
            names |= macros(compiler, "", [*target, *([strict] if strict else [])])
    names |= set(DYNAMIC) | set(MSVC) | {"main"} | extra_names()
    names -= keywords()
    new = names - committed_names()
    names |= committed_names()
    names = sorted(names)
    print(f"added {len(new)} names, {len(names)} in all", file=sys.stderr)

    print(f"// Names no array may take: {len(names)} names that these headers declare or define")
    print("// at file scope (functions, objects, typedefs, enumerators, macros), the macros that")
    print("// GCC, Clang and MSVC predefine, the standard's own macros, main, and the names of")
    print("// scripts/reserved_names_extra.txt. Made by scripts/reserved_names.py, which only ever")
    print("// adds names; remake it rather than edit it. Sorted: looked up by binary search.")
    print("// Read with: " + "; ".join(sorted({version_of(c) for c in compilers})))
    print("// Libraries: " + "; ".join(library_versions()))
    print("// Headers, each set with every feature macro on (_GNU_SOURCE):")
    for what, compiler, working in covered:
        line = f"// headers {what} {compiler}:"
        for h in working:
            if len(line) + len(h) + 1 > 100:
                print(line)
                line = "//  "
            line += f" {h}"
        print(line)
    print("constexpr char reserved_text[] =")
    for name in names:
        print(f'"{name}\\0"')
    print(";")
    print("constexpr std::uint32_t reserved_offsets[] = {")
    offsets = offsets_of(names)
    for i in range(0, len(offsets), 10):
        print(",".join(str(o) for o in offsets[i:i + 10]) + ",")
    print("};")


if __name__ == "__main__":
    main()
