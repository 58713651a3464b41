#!/usr/bin/env python3
"""Runs the built tool on real files, one named case at a time, and checks what it printed,
its exit status and every file it left behind, byte for byte.

The same cases run against a native build and against a Windows build under an emulator:
what differs between the two (line ends, separators, case) is an expectation, not a case.
"""
import argparse
import atexit
import concurrent.futures
import dataclasses
import functools
import hashlib
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
GOLDEN = HERE / "golden"
BANNER = b"vormesta v0.1 by ulmvar\n"
SEVENTEEN = b"\x0a\x0d\x1a\xff\x00\xab\xab\x20\x7f\x80" + b"0123456"
KEEP = b"an existing file that must survive\n"


@dataclass
class Case:
    """One run: the files laid out first, the arguments, and what must be true afterwards.

    All paths are relative to `cwd`, the folder the tool runs in.
    files:   path -> bytes, created before the run (None makes a folder).
    stale:   path -> bytes, created before the run and free to change.
    links:   path -> target, a symbolic link ("=target": a hard link), made before the run.
    sparse:  path -> size, a file of that many zero bytes that takes no room on disk.
    modes:   path -> permission bits, set before the run where the path exists, and expected
             after it.
    expect:  path -> bytes (exact), a golden file's name ("@abc.h"), a declaration
             ("=name": the header's first line names this array), the whole header of the
             input ("#name", "#name|old": or the old bytes of `stale`) or None (nothing there).
    owners:  path -> user id, given to the path (not to a link's target) before the run.
    Every file of `files` must hold its bytes after the run, and every link of `links` must
    still be there, whatever happened; no temporary file of the tool may be left.
    In arguments, "{here}" stands for the absolute path of `cwd` and "{sep}" for the folder
    separator, both as the tool's host writes them; in an expected array name "{here}" stands
    for that path made an identifier.
    only:    "windows", "posix", "linux", "raw-names" (a host whose file names may hold any
             bytes) or "protected-symlinks" (Linux's switch on) for a case that means something
             on such a host alone.
    other_user: runs the tool as another user (nobody) where the suite runs as root, in a folder
             under the system's temporary folder that such a user can reach; Windows' read-only
             attribute holds for every user, so there the case runs as it is.
    file_limit: the file-size limit (ulimit -f) in bytes for the run.
    fault:   runs the test build of the tool with these calls made to fail ("fread:2",
             "open:2:EACCES,fread:2"; see tests/fault_shim.cpp), or `windows_fault` there.
    meanwhile: done while the test build waits at its PAUSE fault: path -> bytes (the file
             written anew), bytes in a tuple (written anew and given back its old times, as
             cp -p does), a size (truncated to it) or ">path" (renamed there); "signal" -> a
             stop sent to the tool, that ends it; "held signal" -> one the tool is to hold or
             ignore. Paths after a rename are expected where they went.
    fifos:   path -> a FIFO nobody writes (None), or one a reader leaves after so many bytes.
    process_1: runs the tool as process 1 of a PID namespace of its own, as in a container.
    read_only: a folder mounted read-only (a bind mount) for the run.
    ignored: a stop signal ignored when the run begins, as nohup does.
    held:    a path another program holds open during the run, sharing reading and writing
             but not deleting (Windows).
    prog:    runs the tool through a symbolic link of this name in `cwd`.
    runs:    how many times the case runs, each from a fresh folder.
    status:  a signal means ended by that stop, with the status the host gives it.
    step:    runs vormesta-step (or its test build) instead, what it says on the error stream
             taken for what it printed ("{here}" in it as in arguments); it must then succeed
             when run again with no fault, and write the index a run into a new folder writes.
    before:  the step's arguments for runs made first (each must succeed), then `between` is
             called with the case's folder.
    again:   (a step case) the run after must be right; off where what failed lasts.
    memory:  the most the run may hold (its peak resident size), in bytes.
    A `stdout` that starts with "~" is a regular expression the whole of it must match.
    "{long}" in a path stands for folders that make the header's path, absolute, 4,088 bytes.
    """
    args: list
    stdout: bytes = b""
    status: int = 0
    files: dict = field(default_factory=dict)
    stale: dict = field(default_factory=dict)
    links: dict = field(default_factory=dict)
    sparse: dict = field(default_factory=dict)
    modes: dict = field(default_factory=dict)
    expect: dict = field(default_factory=dict)
    cwd: str = "."
    only: str = ""
    fault: str = ""
    prog: str = ""
    owners: dict = field(default_factory=dict)
    other_user: bool = False
    file_limit: int = 0
    meanwhile: dict = field(default_factory=dict)
    fifos: dict = field(default_factory=dict)
    process_1: bool = False
    read_only: str = ""
    ignored: int = 0
    held: str = ""
    windows_fault: str = ""
    runs: int = 1
    step: bool = False
    before: list = field(default_factory=list)
    between: object = None
    again: bool = True
    memory: int = 0


def naming(path, header, name, cwd=".", only=""):
    return Case([path], files={path: b"x"}, expect={header: "=" + name}, cwd=cwd, only=only)


def refused(args, message, files=None, links=None, expect=None, only=""):
    return Case(args, stdout=message, status=1, files=files or {}, links=links or {},
                expect=expect or {}, only=only)


HIGH = "".join(chr(0xDC00 + b) for b in range(0x80, 0x100))  # those bytes, as a file name
LONG = "/".join(["d" * 200] * 15) + "/f"
DEEP = "/".join(["deep" * 25] * 3) + "/f"  # past Windows' old limit of 260 characters


def header_text(name, data, windows):
    """The tool's header for `data`, whole."""
    lines = [f"const unsigned char {name}[] = {{"]
    lines += ["  " + "".join(f"0x{b:02X}," for b in data[i:i + 16]) for i in range(0, len(data), 16)]
    end = "\r\n" if windows else "\n"
    return (end.join(lines + ["};"]) + end).encode()


def identifier(text):
    return "".join(c if c.isascii() and c.isalnum() else "_" for c in text)


# Larger than one read block, so that the second read and the later writes are part-way.
BIG = bytes(range(256)) * 2400
BIG_NAME = "a_rather_long_input_name.bin"  # too long for a string kept without allocation

CASES = {
    # The command line.
    "usage_no_argument": Case([], stdout=BANNER + b"usage: {prog} infile\n", status=1),
    "usage_two_arguments": Case(["abc", "abc"], stdout=BANNER + b"usage: {prog} infile\n",
                                status=1, files={"abc": b"ABC"}, expect={"abc.h": None}),
    # The layout, against golden headers.
    "layout_abc": Case(["abc"], files={"abc": b"ABC"}, expect={"abc.h": "@abc.h"}),
    "layout_empty": Case(["empty.bin"], files={"empty.bin": b""}, expect={"empty.h": "@empty.h"}),
    "layout_seventeen": Case(["seventeen.dat"], files={"seventeen.dat": SEVENTEEN},
                             expect={"seventeen.h": "@seventeen.h"}),
    "replaces_existing_header": Case(["abc.txt"], files={"abc.txt": b"ABC"},
                                     stale={"abc.h": KEEP * 100}, expect={"abc.h": "@abc.h"}),
    # The header replaces the file a link ends at, and the link stays; what cannot be replaced
    # (a device) is written in place; permission bits stay, and a new header gets the usual.
    "replaces_through_link": Case(["abc.txt"], files={"abc.txt": b"ABC"},
                                  stale={"real/abc.h": KEEP}, links={"abc.h": "real/abc.h"},
                                  expect={"real/abc.h": "@abc.h"}, only="posix"),
    "creates_through_dangling_link": Case(["abc.txt"], files={"abc.txt": b"ABC"},
                                          links={"abc.h": "made.h"},
                                          expect={"made.h": "@abc.h"}, only="posix"),
    "writes_device_in_place": Case(["abc.txt"], files={"abc.txt": b"ABC"},
                                   links={"abc.h": "/dev/null"}, only="posix"),
    "keeps_permission_bits": Case(["abc.txt"], files={"abc.txt": b"ABC"}, stale={"abc.h": KEEP},
                                  modes={"abc.h": 0o640}, expect={"abc.h": "@abc.h"},
                                  only="posix"),
    # As another user: where the folder refuses the temporary or the rename, a header that user
    # may write is written in place, as a plain write would; one that user may not write is
    # refused and kept. A link another user left in a sticky folder is not followed.
    "other_user_read_only_folder": Case(["abc.txt"], files={"abc.txt": b"ABC"},
                                        stale={"abc.h": KEEP}, modes={".": 0o555, "abc.h": 0o666},
                                        expect={"abc.h": "@abc.h"}, cwd="d", other_user=True,
                                        only="posix"),
    "other_user_sticky_folder": Case(["abc.txt"], files={"abc.txt": b"ABC"},
                                     stale={"abc.h": KEEP}, modes={".": 0o1777, "abc.h": 0o666},
                                     expect={"abc.h": "@abc.h"}, cwd="d", other_user=True,
                                     only="posix"),
    "read_only_header": Case(["abc.txt"], stdout=b"couldn't open outfile", status=1,
                             files={"abc.txt": b"ABC", "abc.h": KEEP},
                             modes={".": 0o777, "abc.h": 0o444}, cwd="d", other_user=True),
    "other_user_link_in_sticky_folder": Case(
        ["abc.txt"], stdout=b"couldn't open outfile", status=1,
        files={"abc.txt": b"ABC", "../victim/abc.h": KEEP}, links={"abc.h": "../victim/abc.h"},
        modes={".": 0o1777}, owners={"../victim": 65534, "../victim/abc.h": 65534, "abc.h": 1},
        cwd="d", other_user=True, only="protected-symlinks"),
    "file_size_limit": Case(["big.bin"], stdout=b"couldn't write outfile", status=1,
                            files={"big.bin": bytes(100_000), "big.h": KEEP},
                            file_limit=100 * 1024, only="posix"),
    # Found out before the input is read: the message a header that cannot be opened gets.
    "read_only_file_system": Case(["ro/big.bin"], stdout=b"couldn't open outfile", status=1,
                                  files={"ro/big.bin": BIG, "ro/big.h": KEEP}, read_only="ro"),
    "file_size_limit_copied": Case(["big.bin"], stdout=b"couldn't write outfile", status=1,
                                   files={"big.bin": bytes(100_000), "big.h": KEEP},
                                   file_limit=100 * 1024, fault="open:2:EACCES", only="posix"),
    "other_user_read_only_folder_read_fails": Case(
        ["mem.bin"], stdout=b"couldn't read infile", status=1, files={"mem.h": KEEP},
        links={"mem.bin": "/proc/self/mem"}, modes={".": 0o555, "mem.h": 0o666}, cwd="d",
        other_user=True, only="linux"),
    # Names nobody can guess: leftovers under the names process 1 (every run in a container)
    # once used stop nothing.
    "leftovers_of_process_1": Case(["abc.txt"], files={"abc.txt": b"ABC", **{
        f".vormesta-1-{n}.tmp": b"" for n in range(100)}}, expect={"abc.h": "@abc.h"},
        process_1=True, only="linux"),
    # The folder held open: renamed during the run, it gets the header and keeps no temporary;
    # a path a plain write can make is not refused for the temporary's longer one.
    "folder_renamed_while_written": Case(["o/big.bin"], files={"o/big.bin": BIG},
                                         fault="fread:2:PAUSE", meanwhile={"o": ">o_moved"},
                                         expect={"o_moved/big.h": "=o_big", "o": None},
                                         only="posix"),
    "longest_header_path": Case(["{here}{sep}{long}.bin"], files={"{long}.bin": b"ABC"},
                                expect={"{long}.h": "={here}_{long}"}, only="linux"),
    # Windows: a header another program holds without delete sharing cannot be renamed over;
    # it is written from the complete temporary, as a plain write would.
    "held_header": Case(["abc.txt"], files={"abc.txt": b"ABC"}, stale={"abc.h": KEEP},
                        held="abc.h", expect={"abc.h": "@abc.h"}, only="windows"),
    # An input that changes while it is read (truncated, or written anew as cp does) fails;
    # files of the kernel's own are read as they come.
    "input_truncated_while_read": Case(
        [BIG_NAME], stdout=b"couldn't read infile", status=1, stale={BIG_NAME: BIG},
        files={"a_rather_long_input_name.h": KEEP}, fault="fread:2:PAUSE",
        meanwhile={BIG_NAME: 100_000}),
    "input_rewritten_while_read": Case(
        [BIG_NAME], stdout=b"couldn't read infile", status=1, stale={BIG_NAME: BIG},
        files={"a_rather_long_input_name.h": KEEP}, fault="fread:2:PAUSE",
        meanwhile={BIG_NAME: BIG[::-1]}),
    "input_made_by_kernel": Case(["version.txt"], links={"version.txt": "/proc/version"},
                                 expect={"version.h": "=version"}, only="linux"),
    # Stops from the first instruction: Ctrl-C mid-run, and process 1 blocked on a FIFO; a
    # reader that leaves makes the write fail.
    "stopped_while_read": Case([BIG_NAME], status=signal.SIGINT,
                               files={BIG_NAME: BIG, "a_rather_long_input_name.h": KEEP},
                               fault="fread:2:PAUSE", meanwhile={"signal": signal.SIGINT}),
    "process_1_fifo_input": Case(["in.fifo"], status=signal.SIGTERM, fifos={"in.fifo": None},
                                 fault="fopen:1:PAUSE", meanwhile={"signal": signal.SIGTERM},
                                 expect={"in.h": None}, process_1=True, only="linux"),
    "process_1_fifo_header": Case(["abc.txt"], status=signal.SIGTERM, files={"abc.txt": b"ABC"},
                                  fifos={"abc.h": None}, fault="open:1:PAUSE",
                                  meanwhile={"signal": signal.SIGTERM}, process_1=True,
                                  only="linux"),
    "fifo_header_reader_leaves": Case(["big.bin"], stdout=b"couldn't write outfile", status=1,
                                      files={"big.bin": bytes(1 << 20)}, fifos={"big.h": 10},
                                      only="posix"),
    "new_header_permission_bits": Case(["abc.txt"], files={"abc.txt": b"ABC"},
                                       modes={"abc.h": 0o644}, expect={"abc.h": "@abc.h"},
                                       only="posix"),
    # Where the header goes and what its array is called.
    "name_plain": naming("logo.png", "logo.h", "logo"),
    "name_double_extension": naming("archive.tar.gz", "archive.tar.h", "archive_tar"),
    "name_no_extension": naming("README", "README.h", "README"),
    "name_dot_in_folder": naming("a.b/c", "a.b/c.h", "a_b_c"),
    "name_parent_folder": naming("../assets/icon.ico", "../assets/icon.h", "___assets_icon",
                                 cwd="run"),
    "name_leading_dot": naming(".profile", ".profile.h", "_profile"),
    "name_dot_opens_component": naming("cfg/.rc", "cfg/.h", "cfg_"),
    # DOS device names with an extension are files, as current Windows takes them.
    "name_device_with_extension": naming("nul.dat", "nul.h", "nul"),
    "name_device_with_other_extension": naming("aux.txt", "aux.h", "aux"),
    "header_named_like_device": naming("con.c", "con.h", "con"),
    "name_trailing_dot": naming("name.", "name.h", "name", only="posix"),
    # Windows drops a trailing dot from a file name: "name." opens "name".
    "name_trailing_dot_windows": Case(["name."], files={"name": b"x"},
                                      expect={"name.h": "=name"}, only="windows"),
    "name_space_and_hyphen": naming("my-file 2.dat", "my-file 2.h", "my_file_2"),
    "name_leading_digit": naming("3d.obj", "3d.h", "_3d"),
    "name_keyword": naming("private.key", "private.h", "private_"),
    "name_backslash": naming("data\\font.bin", "data\\font.h", "data_font"),
    "name_absolute_path": Case(["{here}{sep}in.dir{sep}raw"], files={"in.dir/raw": b"x"},
                               expect={"in.dir/raw.h": "={here}_in_dir_raw"}),
    "name_upper_case_extension": naming("X.H", "X.h", "X", only="linux"),
    "name_high_bytes": naming("caf\udce9.txt", "caf\udce9.h", "caf_", only="raw-names"),
    # Names in any script: the same array names on every host, from the name's UTF-8 bytes.
    "name_accented": naming("café.txt", "café.h", "caf__"),
    "name_other_script": naming("日本.bin", "日本.h", "______"),
    "name_greek": naming("Ωmega.dat", "Ωmega.h", "__mega"),
    "name_outside_bmp": naming("😀.png", "😀.h", "____"),
    "name_folder_in_other_script": naming("Jürgen/张伟.ico", "Jürgen/张伟.h", "J__rgen_______"),
    "name_deep_relative_path": naming(DEEP + ".bin", DEEP + ".h", identifier(DEEP)),
    "name_deep_absolute_path": Case(["{here}{sep}" + DEEP.replace("/", "{sep}") + ".bin"],
                                    files={DEEP + ".bin": b"x"},
                                    expect={DEEP + ".h": "={here}_" + identifier(DEEP)}),
    # Hostile names: format directives, every byte past ASCII, great length, dots alone.
    "name_format_directives": naming("%n%s.bin", "%n%s.h", "_n_s"),
    "program_name_format_directives": Case([], stdout=BANNER + b"usage: ./%n%s infile\n",
                                           status=1, prog="%n%s", only="posix"),
    "name_all_high_bytes": naming(HIGH + ".bin", HIGH + ".h", "_" * 128, only="raw-names"),
    "name_very_long_path": naming(LONG + ".bin", LONG + ".h", identifier(LONG), only="linux"),
    "name_only_dots": naming("...", "...h", "__", only="posix"),
    "name_dots_and_separators": naming("./...", "./...h", "____", only="posix"),
    "dots_and_separators_folder": refused([".//./"], b"couldn't open infile"),
    # Failures: the message, status 1, the input intact and no header.
    "missing_input": refused(["missing.bin"], b"couldn't open infile", expect={"missing.h": None}),
    "option_like_argument": refused(["-h"], b"couldn't open infile", expect={"-h.h": None}),
    "empty_argument": refused([""], b"couldn't open infile", expect={".h": None}),
    "wildcard_not_expanded": refused(["*.bin"], b"couldn't open infile",
                                     files={"a.bin": b"A", "b.bin": b"B"},
                                     expect={"a.h": None, "b.h": None}),
    "folder_as_input": refused(["folder.d"], b"couldn't open infile",
                               files={"folder.d": None}, expect={"folder.h": None}),
    "folder_at_output": refused(["abc.txt"], b"couldn't open outfile",
                                files={"abc.txt": b"ABC", "abc.h": None}),
    "input_is_output": refused(["x.h"], b"outfile would overwrite infile", files={"x.h": KEEP}),
    "input_is_output_other_script": refused(["été.h"], b"outfile would overwrite infile",
                                            files={"été.h": KEEP}),
    "input_is_output_but_case": refused(["X.H"], b"outfile would overwrite infile",
                                        files={"X.H": KEEP}, only="windows"),
    "output_links_to_input": refused(["data.bin"], b"outfile would overwrite infile",
                                     files={"data.bin": KEEP}, links={"data.h": "data.bin"}),
    "output_hard_link_to_input": refused(["data.bin"], b"outfile would overwrite infile",
                                         files={"data.bin": KEEP}, links={"data.h": "=data.bin"}),
    "write_fails": refused(["abc.txt"], b"couldn't write outfile", files={"abc.txt": b"ABC"},
                           links={"abc.h": "/dev/full"}, only="linux"),
    # Past 4 GiB: 32-bit hosts need 64-bit sizes and offsets. The header goes nowhere.
    "large_input_past_4gib": Case(["big.bin"], sparse={"big.bin": (4 << 30) + 17},
                                  links={"big.h": "/dev/null"}, only="linux"),
    "read_fails": refused(["mem.bin"], b"couldn't read infile", links={"mem.bin": "/proc/self/mem"},
                          expect={"mem.h": None}, only="linux"),
}

# Every I/O step of a run made to fail in turn: the calls that fail, what the tool must say
# (None: another road leads to the whole new header), and the calls on Windows where they
# differ.
FAULTS = {
    "open_input": ("fopen:1", b"couldn't open infile"),
    "first_read": ("fread:1", b"couldn't read infile"),
    "later_read": ("fread:2", b"couldn't read infile"),
    "input_ends_before_its_size": ("fread:2:EOF", b"couldn't read infile"),
    "identity_of_input": ("fstat:1", b"couldn't open outfile", "fstat:2"),
    "input_looked_at_again": ("fstat:2", b"couldn't read infile", "fstat:5"),
    "inspect_output": ("fstatat:1", b"couldn't open outfile", "open:1"),
    "open_output": ("open:1", b"couldn't open outfile", "open:2:EACCES"),
    "first_write": ("fwrite:1", b"couldn't write outfile"),
    "later_write": ("fwrite:6", b"couldn't write outfile"),
    "final_flush": ("fflush:1", b"couldn't write outfile"),
    "close_input": ("fclose:1", b"couldn't read infile"),
    "close_output": ("fclose:2", b"couldn't write outfile"),
    "memory_for_path": ("new:1", b"out of memory", "new:14"),
    "memory_for_output_name": ("new:2", b"out of memory", "new:15"),
    "memory_for_array_name": ("new:3", b"out of memory", "new:16"),
    "memory_for_target_name": ("new:4", b"out of memory", "new:17"),
    "memory_for_temporary_name": ("new:6", b"out of memory", "new:24"),
    "memory_for_buffers": ("new:7", b"out of memory", "new:26"),
    # A folder that refuses the temporary beside the header, or the rename: the temporary is
    # made elsewhere or kept, and copied into the header once complete; with no temporary
    # anywhere, the header is written in place. What fails before the copy keeps the old one.
    "rename_output": ("rename:1", None),
    "rename_refused": ("rename:1:EXDEV", None),
    "rename_busy": ("rename:1:EBUSY", None),
    "temporary_refused": ("open:2:EACCES", None, "open:3:EACCES"),
    "no_temporary_anywhere": ("open:2-3:EACCES", None, "open:3-4:EACCES"),
    "no_road_at_all": ("open:2-4:EACCES", b"couldn't open outfile", "open:3-5:EACCES"),
    "copied_read_fails": ("open:2:EACCES,fread:2", b"couldn't read infile",
                          "open:3:EACCES,fread:2"),
    "copied_write_fails": ("open:2:EACCES,fwrite:6", b"couldn't write outfile",
                           "open:3:EACCES,fwrite:6"),
    "kept_temporary_unreadable": ("rename:1:EXDEV,open:3", b"couldn't write outfile",
                                  "rename:1:EXDEV,fopen:2"),
}
# A read of the kept temporary that ends early, unflagged, while it is copied into the header:
# the header is cut short by then, and the run says so.
CASES["fault_copied_read_back_ends_early"] = Case(
    [BIG_NAME], stdout=b"couldn't write outfile", status=1, fault="open:2:EACCES,fread:21",
    files={BIG_NAME: BIG}, stale={"a_rather_long_input_name.h": KEEP},
    windows_fault="open:3:EACCES,fread:21")
HEADER = "a_rather_long_input_name.h"
CASES.update({
    # The in-place road (no temporary anywhere) whose header fails to close: reported.
    "fault_in_place_close_fails": Case(
        [BIG_NAME], stdout=b"couldn't write outfile", status=1, fault="open:2-3:EACCES,fclose:2",
        files={BIG_NAME: BIG}, stale={HEADER: KEEP}, windows_fault="open:3-4:EACCES,fclose:2"),
    # An old header longer than the new one, written in place: nothing of it is left after "};".
    "in_place_over_longer_header": Case(
        ["abc.txt"], files={"abc.txt": b"ABC"}, stale={"abc.h": KEEP * 200},
        fault="open:2-3:EACCES", windows_fault="open:3-4:EACCES", expect={"abc.h": "#abc"}),
    # A stop while the kept temporary is copied into the header waits until the copy is whole.
    "stop_while_copied": Case(
        [BIG_NAME], status=signal.SIGTERM, fault="open:2:EACCES,fread:21:PAUSE",
        files={BIG_NAME: BIG}, stale={HEADER: KEEP}, meanwhile={"held signal": signal.SIGTERM},
        expect={HEADER: "#a_rather_long_input_name"}, only="posix"),
    # A stop ignored when the run began (nohup) stays ignored.
    "ignored_stop_stays_ignored": Case(
        [BIG_NAME], fault="fread:2:PAUSE", ignored=signal.SIGHUP, files={BIG_NAME: BIG},
        stale={HEADER: KEEP}, meanwhile={"held signal": signal.SIGHUP},
        expect={HEADER: "#a_rather_long_input_name"}, only="posix"),
    # Rewritten while read and given back its old times, as cp -p does: still seen.
    "input_rewritten_times_kept": Case(
        [BIG_NAME], stdout=b"couldn't read infile", status=1, stale={BIG_NAME: BIG},
        files={HEADER: KEEP}, fault="fread:2:PAUSE", meanwhile={BIG_NAME: (BIG[::-1],)},
        only="posix"),
    # A kernel's file (/proc) whose read fails: reported, not an empty array.
    "input_made_by_kernel_read_fails": Case(
        ["version.txt"], stdout=b"couldn't read infile", status=1, fault="fread:1",
        links={"version.txt": "/proc/version"}, expect={"version.h": None}, only="linux"),
})


def library(flags, *settings):
    """vormesta-step's arguments for library `site` of the folder site/, made in out/: the bytes
    compiled from C there, unless `settings` name a probe and an object."""
    return ["library", "-", "name\tsite", "source\tout/site.c", "header\tout/vormesta/site.h",
            "record\tout/record", "declarations\tout/include", "folder\t{here}/site\t\t" + flags,
            *settings]


PAGE = b"<!doctype html><p>" + b"a page of text, " * 300
OTHER_PAGE = PAGE.replace(b"text", b"TEXT")  # the same size
SITE = {"site/index.html": PAGE}
CHANGED = b"vormesta-step: {here}/site/index.html: changed while it was read\n"
FORM = f"vormesta-step: out/record.forms/{hashlib.sha256(PAGE).hexdigest()}.gzip: ".encode()


def touch(base):
    os.utime(base / "site/index.html")


def forms_zeroed(base):
    """Every cached form replaced by as many zero bytes, the file touched."""
    for form in (base / "out/record.forms").iterdir():
        form.write_bytes(bytes(form.stat().st_size))
    touch(base)


def learnt_digest_made_a_path(base):
    learnt = base / "out/record.files"
    learnt.write_bytes(learnt.read_bytes().replace(hashlib.sha256(PAGE).hexdigest().encode(),
                                                   b"../../escaped"))


def deep_folders(base):
    """Folders below site/ past the longest path the system takes, a file at the end."""
    folder = os.open(base / "site", os.O_RDONLY)
    for _ in range(24):
        os.mkdir("d" * 200, dir_fd=folder)
        below = os.open("d" * 200, os.O_RDONLY, dir_fd=folder)
        os.close(folder)
        folder = below
    os.close(os.open("f", os.O_CREAT | os.O_WRONLY, dir_fd=folder))
    os.close(folder)


def probe_object(base):
    """The target's own object, that the step writes the library's like."""
    (base / "probe.c").write_text("const unsigned char vormesta_probe[] = {1};\n")
    subprocess.run([opts.cc, *opts.target_flag, "-c", "probe.c", "-o", "probe.o"], cwd=base,
                   check=True)


def edited(path, edit):
    """`path` edited by `edit` (its bytes to new ones), the page touched so that a build runs."""
    def change(base):
        (base / path).write_bytes(edit((base / path).read_bytes()))
        os.utime(base / "site/index.html")
    return change


def piece_moved(pieces):
    """The list of the object's pieces with the stylesheet's a byte further on."""
    lines = pieces.split(b"\n")
    at = next(i for i, line in enumerate(lines) if line.endswith(b"/site/a.css"))
    offset, rest = lines[at].split(b"\t", 1)
    lines[at] = b"%d\t%s" % (int(offset) + 1, rest)
    return b"\n".join(lines)


def changed_output(path, removed):
    def change(base):
        if removed:
            (base / path).unlink()
        else:
            (base / path).write_bytes((base / path).read_bytes() + b"/* edited */\n")
    return change


# The library step against races (a PAUSE fault while the file is rewritten to other bytes of the
# same size, times kept as cp -p keeps them), a cache not to be trusted, outputs changed by
# hand, and what the system refuses: the build fails naming the file, or is right; the next is
# right either way.
CASES.update({
    "step_rewritten_before_read": Case(
        library("etag"), step=True, stale=SITE, fault="fopen:1:PAUSE",
        meanwhile={"site/index.html": (OTHER_PAGE,)}, stdout=CHANGED, status=1),
    "step_rewritten_between_hash_and_forms": Case(
        library("gzip"), step=True, stale=SITE, fault="fopen:2:PAUSE",
        meanwhile={"site/index.html": (OTHER_PAGE,)}, stdout=CHANGED, status=1),
    "step_rewritten_before_embedded": Case(
        library("etag"), step=True, stale=SITE, fault="fopen:2:PAUSE",
        meanwhile={"site/index.html": (OTHER_PAGE,)}, stdout=CHANGED, status=1),
    "step_coding_added_while_rewritten": Case(
        library("gzip"), step=True, stale=SITE, before=[library("etag")],
        fault="fopen:3:PAUSE", meanwhile={"site/index.html": (OTHER_PAGE,)}, stdout=CHANGED,
        status=1),
    "step_cached_form_replaced": Case(
        library("gzip"), step=True, files=SITE, before=[library("gzip")], between=forms_zeroed,
        stdout=FORM + b"is not the form it was made as\n", status=1),
    "step_cached_forms_removed": Case(
        library("gzip"), step=True, files=SITE, before=[library("gzip")],
        between=lambda base: (shutil.rmtree(base / "out/record.forms"), touch(base))),
    "step_learnt_digest_made_a_path": Case(
        library("gzip"), step=True, files=SITE, before=[library("etag")],
        between=learnt_digest_made_a_path, expect={"escaped.gzip": None}),
    "step_build_folder_inside": Case(
        ["library", "-", "name\tsite", "source\tout/site.c", "header\tout/vormesta/site.h",
         "record\tout/record", "folder\t{here}\t\tetag", "skip\t{here}/out",
         "skip\t{here}/fresh"], step=True, files=SITE),
    "step_temporary_of_a_killed_run": Case(
        library("etag"), step=True, files=SITE,
        stale={"out/.vormesta-0123456789abcdef.tmp": bytes(4096)}),
    "step_path_past_path_max": Case(
        library("etag"), step=True, files=SITE, between=deep_folders,
        stdout=b"~vormesta-step: .*/d{200}: (cannot be listed: )?File name too long\n", status=1, again=False,
        only="linux"),
    "step_folder_not_searchable": Case(
        library("etag"), step=True, files={**SITE, "site/locked/a.txt": b"a"},
        modes={".": 0o777, "site/locked": 0o644}, cwd="d", other_user=True,
        stdout=b"vormesta-step: {here}/site/locked/a.txt: Permission denied\n", status=1,
        again=False, only="posix"),
    "step_disk_full": Case(
        library("etag"), step=True, files={**SITE, "out/kept": b""},
        links={"out/site.c": "/dev/full"},
        stdout=b"vormesta-step: out/site.c: could not be written: No space left on device\n",
        status=1, again=False, only="linux"),
    "step_file_size_limit": Case(
        library("etag"), step=True, files={"site/big.bin": bytes(100_000)},
        file_limit=100 * 1024,
        stdout=b"vormesta-step: out/site.c: could not be written: File too large\n", status=1,
        again=False, only="posix"),
    # Flat memory whatever the size: hashed as it streams past, never held.
    "large_step_etag_of_3_gib": Case(
        library("etag", "probe\tprobe.o", "object\tout/site.o"), step=True,
        files=SITE, sparse={"site/big.bin": 3 << 30}, between=probe_object, memory=64 << 20,
        again=False, only="posix"),
})
# The per-file road refuses what the library road refuses.
CASES["step_object_array_is_an_index_function"] = Case(
    ["object", "--library", "lib", "probe.o", "lib_find.bin", "lib_find.bin", "o.o", "lib_find.h"],
    step=True, files={"lib_find.bin": b"x"}, before=[probe_object], again=False, status=1,
    stdout=b"vormesta-step: lib_find.bin: its array lib_find is a function of library lib's "
           b"index; rename the file\n")
# An alignment is a power of two up to 4096, written in digits alone.
CASES["step_object_align_not_a_power_of_two"] = Case(
    ["object", "--align", "24", "probe.o", "a.bin", "a.bin", "a.o"], step=True,
    files={"a.bin": b"a"}, again=False, status=2,
    stdout=b"vormesta-step: 24: is no alignment: a power of two up to 4096\n")
CASES["step_library_align_with_more_than_digits"] = Case(
    library("align=16k"), step=True, files=SITE, again=False, status=1,
    stdout=b"vormesta-step: -: align=16k is no alignment: a power of two up to 4096\n")
# The per-file road's index: the library's order, types and refusals, a line for each file.
CASES["step_index_sorted_with_types"] = Case(
    ["index", "lib", "-", "out/lib.c", "out/vormesta/lib.h", "b.css", "b.css", "text", "a.bin",
     "a.bin", "binary"], step=True, files={"a.bin": b"a", "b.css": b"p {}\n"}, again=False,
    expect={"out/lib.c": "~(?s)\\{\"a.bin\", vormesta_lib_f.*\"application/octet-stream\".*"
                         "\\{\"b.css\", .*\"text/css; charset=utf-8\""})
CASES["step_index_path_twice"] = Case(
    ["index", "lib", "-", "out/lib.c", "out/lib.h", "a.bin", "x", "binary", "b.bin", "x", "binary"],
    step=True, files={"a.bin": b"a", "b.bin": b"b"}, again=False, status=1,
    stdout=b"vormesta-step: lib: b.bin: x is in library lib twice (a.bin)\n")
CASES["step_index_line_not_three_fields"] = Case(
    ["index", "lib", "list.txt", "out/lib.c", "out/lib.h"], step=True,
    files={"a.bin": b"a", "list.txt": b"a.bin\ta.bin\n"}, again=False, status=1,
    stdout=b"vormesta-step: list.txt: holds a line that is not INPUT, RELATIVE and KIND\n")
# Editors' and the system's litter is left out, HIDDEN or not; a pattern naming it takes it back.
CASES["step_litter_left_out_unless_named"] = Case(
    library("hidden", "pattern\t*", "pattern\tdesktop.ini"), step=True,
    files={**SITE, "site/.index.html.swp": b"s", "site/4913": b"v", "site/desktop.ini": b"d",
           "site/x.html___jb_tmp___": b"j"},
    expect={"out/site.c": "~(?s)^(?!.*(swp|4913|jb_tmp)).*desktop\\.ini"})
# A file above 4 MiB is compressed at faster levels, and the build says so once.
CASES["step_large_file_compressed_faster"] = Case(
    library("gzip"), step=True, files={**SITE, "site/big.css": b"p { margin: 0 }\n" * (300 << 10)},
    stdout=b"vormesta: library site: {here}/site/big.css above 4 MiB compressed at the faster "
           b"levels (gzip 6, br 9, zstd 12)\n")
# A make rule names the declaration alone: its folder is made.
CASES["step_object_declaration_folder_made"] = Case(
    ["object", "probe.o", "table.bin", "library/table.bin", "table.o", "library/table.h"],
    step=True, files={"table.bin": b"t"}, before=[probe_object], again=False)
# The object again after an edit: what did not change is taken from the last object, while it
# and the list of its pieces are as the step left them.
OBJECT = library("gzip", "probe\tprobe.o", "object\tout/site.o")
for name, edit in {"file": edited("site/index.html", lambda page: page.replace(b"p>", b"P>")),
                   "object_by_hand": edited("out/site.o", lambda o: o.replace(b"page", b"PAGE", 1)),
                   "pieces_by_hand": edited("out/record.pieces", piece_moved),
                   "file_between_removed": lambda base: (base / "site/b.txt").unlink()}.items():
    CASES["step_object_again_" + name] = Case(
        OBJECT, step=True, stale={**SITE, "site/a.css": PAGE[:999], "site/b.txt": b"b" * 9},
        before=[probe_object, OBJECT], between=edit)
for output in ("site.c", "vormesta/site.h", "vormesta/files.hpp", "include/index.h"):
    for removed in (True, False):
        CASES[f"step_output_{'removed' if removed else 'edited'}_{output.replace('/', '_')}"] = Case(
            library("etag declare"), step=True, files=SITE, before=[library("etag declare")],
            between=changed_output("out/" + output, removed))
# A stop (Ctrl-C) at each point of a run where the temporary is made, written, closed and
# renamed over the header, many times each: the header old or new and whole, and no temporary
# left the moment the run has ended. Where the run holds stops off (making, closing, renaming)
# it goes on at once; on Windows the stop's handler runs on a thread of its own beside it, so
# the run may end either way. While written, the run waits for its end.
for point, (call, windows_call, stop) in {
        "making_temporary": ("open:2:PAUSE", "open:3:PAUSE", "held signal"),
        "writing": ("fwrite:6:PAUSE", "fwrite:6:PAUSE", "signal"),
        "closing_temporary": ("fclose:2:PAUSE", "fclose:2:PAUSE", "held signal"),
        "renaming": ("rename:1:PAUSE", "rename:1:PAUSE", "held signal")}.items():
    CASES["stopped_" + point] = Case(
        [BIG_NAME], status=signal.SIGINT, fault=call, windows_fault=windows_call,
        files={BIG_NAME: BIG}, stale={HEADER: KEEP},
        expect={HEADER: "#a_rather_long_input_name" + ("" if point == "renaming" else "|old")},
        meanwhile={stop: signal.SIGINT}, runs=16)
# Each starts with an older header in place, which must come through whole unless the run
# succeeds.
for step, (call, message, *windows) in FAULTS.items():
    header = {"a_rather_long_input_name.h": KEEP}
    CASES["fault_" + step] = Case(
        [BIG_NAME], stdout=message or b"", status=1 if message else 0, fault=call,
        files={BIG_NAME: BIG, **(header if message else {})}, stale={} if message else header,
        expect={} if message else {"a_rather_long_input_name.h": "=a_rather_long_input_name"},
        windows_fault=windows[0] if windows else call)


def host_kinds():
    if opts.windows:
        return {"windows"}
    # macOS file systems refuse names that are not UTF-8; other POSIX hosts take any bytes.
    raw_names = set() if sys.platform == "darwin" else {"raw-names"}
    kinds = {"posix", sys.platform} | raw_names
    if os.geteuid() == 0 and SWITCH.is_file() and os.access(SWITCH, os.W_OK):
        kinds.add("protected-symlinks")
    return kinds


SWITCH = Path("/proc/sys/fs/protected_symlinks")


def switch_on():
    """Turns Linux's protected_symlinks on for the run, and back to what it was after."""
    was = SWITCH.read_text()
    if was.strip() == "0":
        SWITCH.write_text("1")
        atexit.register(SWITCH.write_text, was)


def tool_path(path):
    """A path as the tool's host writes it: under Wine, '/' is the Z: drive."""
    return "Z:" + str(path).replace("/", "\\") if opts.windows else str(path)


def golden(name, windows):
    text = (GOLDEN / name).read_bytes()
    return text.replace(b"\n", b"\r\n") if windows else text


def fs_path(root, path):
    """Where the harness finds a path the tool was given: '\\' separates folders on Windows."""
    return root / (path.replace("\\", "/") if opts.windows else path)


def as_bytes(text):
    return os.fsencode(text) if isinstance(text, str) else text


def lay_out(base, case):
    base.mkdir(parents=True, exist_ok=True)
    for path, content in {**case.stale, **case.files}.items():
        where = fs_path(base, path)
        if content is None:
            where.mkdir(parents=True, exist_ok=True)
        else:
            where.parent.mkdir(parents=True, exist_ok=True)
            where.write_bytes(content)
            if path in case.meanwhile:  # older than any change made meanwhile, to the tick
                os.utime(where, (1e9, 1e9))
    for path, mode in case.modes.items():
        if fs_path(base, path).exists():
            os.chmod(fs_path(base, path), mode)
    for path, size in case.sparse.items():
        with open(fs_path(base, path), "wb") as f:
            f.truncate(size)
    for path, target in case.links.items():
        where = fs_path(base, path)
        if target.startswith("="):
            os.link(fs_path(base, target[1:]), where)
        else:
            os.symlink(target, where)
    for path, owner in case.owners.items():
        os.lchown(fs_path(base, path), owner, owner)
    for path, leave_after in case.fifos.items():
        os.mkfifo(fs_path(base, path))
        if leave_after is not None:
            threading.Thread(target=read_and_leave, args=(fs_path(base, path), leave_after),
                             daemon=True).start()


def read_and_leave(path, count):
    with open(path, "rb") as fifo:
        fifo.read(count)


def long_path(base, total=4088):
    """Folders and a short name that make `base`/<it>.h `total` bytes long: the temporary's
    name is longer than the header's."""
    length = total - len(str(base.resolve())) - len("/") - len("/f.h")
    parts = []
    while length > 201:
        parts.append("d" * 200)
        length -= 201
    return "/".join(parts + ["d" * length, "f"])


def expand(case, base):
    """The case with "{long}" spelled out."""
    if "{long}" not in repr(case):
        return case
    long = long_path(base)
    swap = lambda text: text.replace("{long}", long) if isinstance(text, str) else text
    return dataclasses.replace(
        case, args=[swap(a) for a in case.args],
        files={swap(k): v for k, v in case.files.items()},
        expect={swap(k): v.replace("{long}", identifier(long)) if v else v
                for k, v in case.expect.items()})


@functools.cache  # each look starts a namespace: look once
def process_1_launcher():
    """The command that runs a program as process 1 of a new PID namespace, or None."""
    if shutil.which("unshare"):
        for extra in ([], ["--user", "--map-root-user"]):
            command = ["unshare", *extra, "--pid", "--fork"]
            if subprocess.run(command + ["true"], capture_output=True).returncode == 0:
                return command
    return None


@functools.cache
def read_only_launcher():
    """The command that runs a program with a folder ($0 of the script) mounted read-only in a
    mount namespace of its own, or None."""
    script = 'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" && exec "$@"'
    command = ["unshare", "--mount", "--propagation", "private", "sh", "-c", script]
    with tempfile.TemporaryDirectory() as folder:
        works = shutil.which("unshare") and subprocess.run(
            command + [folder, "true"], capture_output=True).returncode == 0
    return command if works else None


def tool_pid(run, launcher):
    """The tool's own process, not its launcher's: process 1's host process id."""
    for _ in range(1000) if launcher else ():
        children = Path(f"/proc/{run.pid}/task/{run.pid}/children").read_text().split()
        if children:
            return int(children[0])
        time.sleep(0.001)
    return run.pid


def stop_status(sig, process_1=False):
    """The status a run stopped by `sig` ends with: as the signal, as process 1 the shell's
    128 plus its number, on Windows the low byte of STATUS_CONTROL_C_EXIT (Wine's)."""
    return 0xC000013A & 0xFF if opts.windows else 128 + sig if process_1 else -sig


HOLDER = r"""#include <stdio.h>
#include <windows.h>
int main(int argc, char** argv) {
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    puts(argc == 2 && file != INVALID_HANDLE_VALUE ? "held" : "failed");
    fflush(stdout);
    return getchar() == EOF ? 0 : 1;
}
"""


def hold(path):
    """Another program holding `path` open, sharing reading and writing but not deleting,
    until its standard input closes."""
    source = Path(path).parent / "holder.c"
    source.write_text(HOLDER)
    subprocess.run([opts.cc, str(source), "-o", str(source.with_suffix(".exe"))], check=True)
    source.unlink()
    holder = subprocess.Popen(opts.emulator + [str(source.with_suffix(".exe")), Path(path).name],
                              cwd=Path(path).parent, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    if holder.stdout.readline().strip() != b"held":
        raise RuntimeError(f"could not hold {path}")
    return holder


NOBODY = 65534


def run_tool(args, cwd, fault="", link="", other_user=False, file_limit=0, launcher=(),
             meanwhile=None, ignored=0, step=False):
    """Runs the tool (`step`: vormesta-step, its error stream taken for what it printed);
    returns what it printed, its status and the program name it was given. `meanwhile` is
    called with the running tool when it pauses at a PAUSE fault."""
    tool = (opts.faulty_step if fault else opts.step) if step else (
        opts.faulty_tool if fault else opts.tool)
    as_other = other_user and not opts.windows
    if as_other:  # a copy the other user can reach
        tool = Path(shutil.copy(tool, Path(cwd).parent))
    env = dict(os.environ, VORMESTA_FAULT=fault) if fault else None
    prog = tool_path(tool)
    if link:
        os.symlink(tool, Path(cwd) / link)
        tool = prog = "./" + link
    here = tool_path(Path(cwd).resolve())
    sep = "\\" if opts.windows else "/"
    args = [a.replace("{here}", here).replace("{sep}", sep) for a in args]
    command = list(launcher) + opts.emulator + [tool] + [as_bytes(a) for a in args]
    def before_exec():
        if file_limit:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit,) * 2)
        if ignored:
            signal.signal(ignored, signal.SIG_IGN)
    who = dict(user=NOBODY, group=NOBODY, extra_groups=[]) if as_other else {}
    run = subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                           stderr=subprocess.STDOUT if step else None, env=env,
                           preexec_fn=before_exec, **who)
    if meanwhile:
        paused = Path(cwd) / "vormesta-paused"
        deadline = time.monotonic() + 120
        while not paused.exists() and run.poll() is None and time.monotonic() < deadline:
            time.sleep(0.001)
        meanwhile(run)
        paused.unlink(missing_ok=True)
    try:
        stdout, _ = run.communicate(timeout=120)
    except subprocess.TimeoutExpired:
        run.kill()
        stdout, _ = run.communicate()
    if step:  # how far a long run is: said every five seconds, so as many times as it lasts
        stdout = re.sub(rb"(?m)^vormesta: library \S+: \d+ of \d+ files done, \d+ MiB read "
                        rb"and compressed so far\r?\n", b"", stdout)
    return stdout, run.returncode, prog


def check_case(name, case):
    failures = []
    root = fresh_folder(name, shared=case.other_user and not opts.windows)
    base = fs_path(root, case.cwd)
    case = expand(case, base)
    lay_out(base, case)
    renamed = {path: to[1:] for path, to in case.meanwhile.items()
               if isinstance(to, str) and to.startswith(">")}

    def meanwhile(run):
        for path, change in case.meanwhile.items():
            if path == "signal":
                os.kill(tool_pid(run, launcher), change)
                run.wait(timeout=10)
            elif path == "held signal":
                os.kill(tool_pid(run, launcher), change)
            elif isinstance(change, tuple):
                before = os.stat(fs_path(base, path))
                fs_path(base, path).write_bytes(change[0])
                os.utime(fs_path(base, path), ns=(before.st_atime_ns, before.st_mtime_ns))
            elif isinstance(change, int):
                os.truncate(fs_path(base, path), change)
            elif isinstance(change, bytes):
                fs_path(base, path).write_bytes(change)
            else:
                fs_path(base, path).rename(fs_path(base, change[1:]))

    def after_run(path):
        for old, new in renamed.items():
            if path == old or path.startswith(old + "/"):
                return new + path[len(old):]
        return path

    for args in case.before:
        if callable(args):
            args(base)
            continue
        said, status, _ = run_tool(args, base, step=True)
        if status != 0:
            return [f"a run before: status {status}: {said!r}"]
    if case.between:
        case.between(base)
    launcher = process_1_launcher() if case.process_1 else ()
    if case.read_only:
        launcher = read_only_launcher() + [str(fs_path(base, case.read_only))]
    holder = hold(fs_path(base, case.held)) if case.held else None
    fault = case.windows_fault if opts.windows and case.windows_fault else case.fault
    stdout, status, prog = run_tool(case.args, base, fault, case.prog, case.other_user,
                                    case.file_limit, launcher, case.meanwhile and meanwhile,
                                    case.ignored, case.step)
    if holder:
        holder.communicate(b"")
    want_stdout = case.stdout.replace(b"{prog}", os.fsencode(prog)).replace(
        b"{here}", os.fsencode(tool_path(base.resolve())))
    if opts.windows:
        want_stdout = want_stdout.replace(b"\n", b"\r\n")
    if want_stdout.startswith(b"~"):
        if not re.fullmatch(want_stdout[1:], stdout, re.S):
            failures.append(f"stdout {stdout!r}, expected to match {want_stdout[1:]!r}")
    elif stdout != want_stdout:
        failures.append(f"stdout {stdout!r}, expected {want_stdout!r}")
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
    if case.memory and peak > case.memory:
        failures.append(f"the run held {peak >> 20} MiB, more than {case.memory >> 20} MiB")
    want_status = case.status
    if isinstance(want_status, signal.Signals):
        want_status = stop_status(want_status, case.process_1)
    # On Windows a stop's handler runs on a thread of its own: a run let go on at once may
    # end before it runs.
    if opts.windows and "held signal" in case.meanwhile and status == 0:
        want_status = 0
    if status != want_status:
        failures.append(f"status {status}, expected {want_status}")

    for path, content in case.files.items():
        if content is not None and fs_path(base, after_run(path)).read_bytes() != content:
            failures.append(f"{path} was changed")
    for path, target in case.links.items():
        where = fs_path(base, path)
        if not target.startswith("=") and (not where.is_symlink() or os.readlink(where) != target):
            failures.append(f"the link {path} was not left as it was")
    for path, mode in case.modes.items():
        if os.stat(fs_path(base, path)).st_mode & 0o7777 != mode:
            failures.append(f"{path} has mode {os.stat(fs_path(base, path)).st_mode:o}")
    failures += temporaries_left(root, {fs_path(base, after_run(p)) for p in case.files})
    if case.step and case.again and not failures:
        failures += step_right_after(case, base)
    for path, want in case.expect.items():
        where = fs_path(base, path)
        if want is None:
            if os.path.lexists(where):
                failures.append(f"{path} exists, expected nothing there")
            continue
        if not where.is_file():
            failures.append(f"{path} missing")
            continue
        got = where.read_bytes()
        if want.startswith("~"):
            if not re.search(want[1:].encode(), got):
                failures.append(f"{path} holds nothing like {want[1:]!r}")
        elif want.startswith("@"):
            want_bytes = golden(want[1:], opts.windows)
            if got != want_bytes:
                failures.append(f"{path} differs from golden {want[1:]}:\n{got!r}")
        elif want.startswith("#"):
            data = {**case.stale, **case.files}[case.args[0]]
            name, _, old = want[1:].partition("|")
            if got != header_text(name, data, opts.windows) and not (old and got == case.stale[path]):
                failures.append(f"{path} is not the whole header of {case.args[0]}: "
                                f"{len(got)} bytes, ending {got[-40:]!r}")
        elif want.startswith("="):
            name = want[1:].replace("{here}", identifier(tool_path(base.resolve())))
            line = b"const unsigned char " + as_bytes(name) + b"[] = {"
            line += b"\r\n" if opts.windows else b"\n"
            if not got.startswith(line):
                failures.append(f"{path} starts {got[:60]!r}, expected {line!r}")
    return failures


def step_codings():
    """What the step compresses with."""
    return subprocess.run(opts.emulator + [str(opts.step), "codings"], capture_output=True,
                          check=True).stdout


def step_right_after(case, base):
    """The step run again, with no fault, succeeds and writes the index a run into a new folder
    writes: whatever the case did, the next build is right."""
    said, status, _ = run_tool(case.args, base, step=True)
    if status != 0:
        return [f"the run after: status {status}: {said!r}"]
    fresh = [a.replace("\tout/", "\tfresh/") for a in case.args]
    said, status, _ = run_tool(fresh, base, step=True)
    if status != 0:
        return [f"a run into a new folder: status {status}: {said!r}"]
    return [f"out/{name} differs from a new folder's"
            for name in ("site.c", "site.o", "vormesta/site.h", "vormesta/files.hpp",
                         "include/index.h")
            if (base / "fresh" / name).exists() and (not (base / "out" / name).exists() or
            (base / "out" / name).read_bytes() != (base / "fresh" / name).read_bytes())]


def fresh_folder(name, shared=False):
    """A new folder for a case; `shared`: one that every user can reach."""
    if shared:
        root = Path(tempfile.mkdtemp(prefix=f"vormesta-{name}-"))
        root.chmod(0o755)
        atexit.register(shutil.rmtree, root, True)
        return root
    root = opts.work / name
    shutil.rmtree(root, ignore_errors=True)
    root.mkdir(parents=True)
    return root


def temporaries_left(root, laid_out=()):
    # A folder past the longest path the system takes is passed over.
    return [f"temporary left: {p}" for folder, _, names in os.walk(root)
            for p in (Path(folder) / name for name in names if name.startswith(".vormesta-"))
            if p not in laid_out]


def check_killed():
    """Runs stopped part-way by each stop signal: the header is the old one or the new one,
    whole; a signal the tool catches leaves no temporary and ends the run as that signal does,
    also where the tool is process 1 (a container's). A temporary never has more permission
    bits than the header it replaces, from the instant it exists."""
    failures = []
    root = fresh_folder("large_killed_part_way")
    (root / "big.bin").write_bytes(random.Random(2).randbytes(24 << 20))
    run_tool(["big.bin"], root)
    new = (root / "big.h").read_bytes()
    launchers = {"": []}
    if process_1_launcher():
        launchers[" as process 1"] = process_1_launcher()
    else:
        print("as process 1: skipped, unshare cannot make a PID namespace here")

    for launcher_name, launcher in launchers.items():
        signals = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
        for delay in (0.01, 0.05, 0.15):
            for sig in signals + (() if launcher else (signal.SIGKILL,)):
                (root / "big.h").write_bytes(KEEP)
                run = subprocess.Popen(launcher + opts.emulator + [str(opts.tool), "big.bin"],
                                       cwd=root, stdout=subprocess.DEVNULL)
                time.sleep(delay)
                os.kill(tool_pid(run, launcher), sig)
                try:
                    status = run.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    run.kill()
                    status = run.wait()
                    failures.append(f"{sig.name}{launcher_name}: still running after 10 s")
                header = (root / "big.h").read_bytes()
                what = f"{sig.name} after {delay} s{launcher_name}"
                seen = "new" if header == new else "old" if header == KEEP else "TORN"
                print(f"{what}: status {status}, header {seen}")
                if header not in (KEEP, new):
                    failures.append(f"{what}: a torn header of {len(header)} bytes")
                if status not in (0, -sig, 128 + sig):
                    failures.append(f"{what}: status {status}")
                if sig != signal.SIGKILL:
                    failures += [f"{what}: {f}" for f in temporaries_left(root)]
                for leftover in root.glob(".vormesta-*"):
                    leftover.unlink()

    if opts.faulty_tool:
        (root / "big.h").write_bytes(KEEP)
        os.chmod(root / "big.h", 0o600)
        # The second open makes the temporary; the run dies right after it.
        run_tool(["big.bin"], root, fault="open:2:KILL")
        leftovers = list(root.glob(".vormesta-*"))
        if not leftovers:
            failures.append("killed as its temporary was made, the run left none to look at")
        for leftover in leftovers:
            mode = leftover.stat().st_mode & 0o7777
            print(f"killed as its temporary was made for a 0600 header: temporary {mode:o}")
            if mode & ~0o600:
                failures.append(f"the temporary for a 0600 header was made {mode:o}")
            leftover.unlink()
    return failures


def check_concurrent():
    """Several runs for one header at once, and a reader meanwhile: every read is a whole
    header, and every run succeeds."""
    root = fresh_folder("large_concurrent_runs")
    (root / "data.bin").write_bytes(random.Random(3).randbytes(1 << 20))
    run_tool(["data.bin"], root)
    whole = (root / "data.h").read_bytes()
    reads = torn = 0
    failures = []
    for _ in range(5):
        runs = [subprocess.Popen(opts.emulator + [str(opts.tool), "data.bin"], cwd=root,
                                 stdout=subprocess.PIPE) for _ in range(4)]
        while any(run.poll() is None for run in runs):
            reads += 1
            torn += (root / "data.h").read_bytes() != whole
        failures += [f"a run ended with status {run.returncode}" for run in runs if run.wait()]
    print(f"{reads} reads of the header while 5 times 4 runs wrote it, {torn} partial")
    if torn:
        failures.append(f"{torn} of {reads} reads saw a partial header")
    return failures + temporaries_left(root)


def check_reserved_names():
    """Every reserved name, named by the tool's rule (vormesta-step names, the tool's own code,
    in one run for thousands of names), is renamed, and the arrays of all of them compile
    after every header the list covers, in C and C++, with each compiler there is, in default
    and strict modes."""
    listing = (HERE.parents[1] / "src" / "reserved_names.inc").read_text()
    names = re.findall(r'^"(.*)\\0"$', listing, re.M)
    headers = {}
    for what, compiler, rest in re.findall(r"^// headers (\S+) (\S+):(.*(?:\n//   .*)*)",
                                           listing, re.M):
        headers[f"{what} {compiler}"] = re.findall(r"\S+", rest.replace("//", " "))
    root = fresh_folder("large_reserved_names_compile")
    step = opts.tool.parent / opts.tool.name.replace("vormesta", "vormesta-step")
    arrays = {}
    for start in range(0, len(names), 4000):
        chunk = names[start:start + 4000]
        named = subprocess.run([str(step), "names", *(f"{n}.bin" for n in chunk)],
                               capture_output=True, text=True)
        if named.returncode != 0:
            return [f"vormesta-step names: status {named.returncode}: {named.stderr[:2000]}"]
        for name, line in zip(chunk, named.stdout.splitlines()):
            arrays.setdefault(line.split("\t")[1], name)
    failures = [f"{name}: kept as it is" for name in names if name in arrays]
    if failures:
        return failures[:20]
    # _SIZE_T and _SIZE_T_ both give _SIZE_T__: one array for each name. All of them, as the
    # tool writes them for a one-byte file, in one file, after the covered headers.
    (root / "arrays.h").write_text("".join(f"const unsigned char {array}[] = {{\n  0x01,\n}};\n"
                                           for array in sorted(arrays)))
    # C++20 headers (<coroutine>) want C++20; C's <stdatomic.h> and <atomic> do not mix in clang.
    c, cxx, cxx20 = ["", "-std=c17"], ["", "-std=c++17"], ["-std=gnu++20", "-std=c++20"]
    mingw = "x86_64-w64-mingw32-"
    builds = [("gcc", ["glibc gcc"], c), ("clang", ["glibc gcc"], c),
              ("g++", ["glibc g++", "libstdc++ g++"], cxx20), ("clang++", ["glibc g++"], cxx),
              ("clang++", ["libstdc++ clang++"], cxx20),
              (mingw + "gcc", [f"MinGW-w64 {mingw}gcc", f"Windows {mingw}gcc"], c),
              (mingw + "g++", [f"MinGW-w64 {mingw}g++", f"Windows {mingw}g++"], cxx),
              ("musl-gcc", ["musl musl-gcc"], c)]
    for compiler, covered, modes in builds:
        if not shutil.which(compiler):
            # Where every compiler is to be there (CI), one missing fails the check.
            print(f"SKIPPED: {compiler} is not installed, so its headers are not tried")
            if os.environ.get("VORMESTA_ALL_COMPILERS"):
                failures.append(f"{compiler} is not installed")
            continue
        included = dict.fromkeys(h for c in covered for h in headers[c])
        source = "#define _GNU_SOURCE 1\n" + "".join(f"#include <{h}>\n" for h in included)
        ext = "cpp" if compiler.endswith("++") else "c"
        (root / f"all.{ext}").write_text(source + '#include "arrays.h"\n'
                                         "int main(void) { return 0; }\n")
        for mode in modes:
            build = subprocess.run([compiler, *([mode] if mode else []), "-fsyntax-only",
                                    f"all.{ext}"], cwd=root, capture_output=True, text=True)
            print(f"{compiler} {mode or '(default)'}: {len(arrays)} arrays after"
                  f" {len(included)} headers, {'compiled' if build.returncode == 0 else 'FAILED'}")
            if build.returncode != 0:
                failures.append(f"{compiler} {mode}:\n{build.stderr[:3000]}")
    return failures


def check_windows_past_4gib():
    """Windows, where `long` has 32 bits: an input past 4 GiB is read to its end. Its header
    (22.5 GB) is written for real, since Wine takes no device as the header, and checked by its
    size and its ends."""
    if not opts.windows:
        print("windows_input_past_4gib: skipped, large_input_past_4gib covers other hosts")
        return 77
    root = fresh_folder("windows_input_past_4gib")
    size = (4 << 30) + 17
    if shutil.disk_usage(root).free < 30 << 30:
        print("windows_input_past_4gib: skipped, less than 30 GB free for its header")
        return 77
    with open(root / "big.bin", "wb") as sparse:
        sparse.truncate(size)
    try:
        stdout, status, _ = run_tool(["big.bin"], root)
        header = root / "big.h"
        first = b"const unsigned char big[] = {\r\n"
        last = b"  0x00,\r\n};\r\n"
        want = len(first) + size // 16 * (2 + 80 + 2) + (2 + 5 * (size % 16) + 2) + 4
        got = header.stat().st_size if header.exists() else 0
        with open(header, "rb") if got else open(os.devnull, "rb") as text:
            head = text.read(len(first))
            text.seek(max(0, got - len(last)))
            tail = text.read()
        failures = [f"status {status}, printed {stdout!r}"] if status or stdout else []
        if (got, head, tail) != (want, first, last):
            failures.append(f"a header of {got} bytes (want {want}), {head!r} ... {tail!r}")
        return failures
    finally:
        shutil.rmtree(root, ignore_errors=True)


def check_compiles():
    """Headers the tool wrote, included together in a C and in a C++ program that writes each
    array back to a file: every file must come back byte for byte."""
    failures = []
    root = fresh_folder("compiles")
    rng = random.Random(1)
    inputs = {"data.bin": bytes(rng.randrange(256) for _ in range(4099)), "3d.obj": b"\x01",
              "private.key": bytes(range(256)), "int": b"\x00", "8bit.wav": SEVENTEEN}
    arrays = {"data.bin": "data", "3d.obj": "_3d", "private.key": "private_", "int": "int_",
              "8bit.wav": "_8bit"}
    for path, content in inputs.items():
        (root / path).write_bytes(content)
        stdout, status, _ = run_tool([path], root)
        if status != 0 or stdout:
            return [f"converting {path}: status {status}, printed {stdout!r}"]

    source = "#include <stdio.h>\n"
    source += "".join(f'#include "{Path(p).stem}.h"\n' for p in inputs)
    source += "static int put(const char* path, const unsigned char* a, size_t n) {\n"
    source += '  FILE* f = fopen(path, "wb");\n'
    source += "  return f && fwrite(a, 1, n, f) == n && fclose(f) == 0 ? 0 : 1;\n}\n"
    source += "int main(void) {\n  int failed = 0;\n"
    source += "".join(f'  failed |= put("{a}.out", {a}, sizeof {a});\n' for a in arrays.values())
    source += "  return failed;\n}\n"
    for compiler, std, ext in ((opts.cc, "-std=c11", "c"), (opts.cxx, "-std=c++17", "cpp")):
        flags = opts.target_flag + [std]
        if not compiler:
            continue
        (root / f"main.{ext}").write_text(source)
        exe = root / f"main_{ext}.exe"
        build = subprocess.run([compiler, *flags, "-Wall", "-Wextra", "-pedantic", "-Werror",
                                f"main.{ext}", "-o", str(exe)], cwd=root,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if build.returncode != 0:
            failures.append(f"{compiler} failed:\n{build.stdout.decode(errors='replace')}")
            continue
        ran = subprocess.run(opts.emulator + [str(exe)], cwd=root, stdout=subprocess.PIPE)
        if ran.returncode != 0:
            failures.append(f"{exe.name} exited {ran.returncode}")
        for path, array in arrays.items():
            out = root / f"{array}.out"
            if not out.is_file() or out.read_bytes() != inputs[path]:
                failures.append(f"{ext}: {array} does not hold the bytes of {path}")
            out.unlink(missing_ok=True)
    return failures + check_library_compiles(root)


def check_library_compiles(root):
    """What the library step writes (the index, its header, the data as C) compiles with every
    warning a strict project turns on, as C and as C++, and finds its file."""
    (root / "site").mkdir()
    (root / "site/index.html").write_bytes(PAGE)
    gzip = b"gzip" in step_codings()  # a step built without zlib has no forms to negotiate
    stdout, status, _ = run_tool(library(f"{'gzip' if gzip else 'etag'} declare"), root, step=True)
    if status != 0:
        return [f"the library step: status {status}, printed {stdout!r}"]
    # The responder too: what a server asked for "/" answers.
    (root / "use.c").write_text('#include "vormesta/site.h"\n#include "index.h"\n'
                                '#include "vormesta/http.h"\n'
                                'int main(void) {\n'
                                '    const struct vormesta_file* file = site_find("index.html");\n'
                                '    struct vormesta_mount library = {site_count, site_at, "/", 0};\n'
                                '    struct vormesta_request request = {"GET", "/", 1, VORMESTA_NULL, VORMESTA_NULL, VORMESTA_NULL, VORMESTA_NULL};\n'
                                '    struct vormesta_response response;\n'
                                '    vormesta_respond(&library, &request, &response);\n'
                                '    return !file || file->data != index_ || file->size != sizeof index_'
                                ' || response.status != 200 || response.body != index_'
                                f' || (vormesta_negotiate(file, "gzip") != VORMESTA_NULL) != {int(gzip)};\n}}\n')
    strict = ["-Wall", "-Wextra", "-Wpedantic", "-Wconversion", "-Wsign-conversion", "-Wshadow",
              "-Werror", "-Iout", "-Iout/include", f"-I{Path(__file__).resolve().parents[2] / 'include'}"]
    failures = []
    c_flags = ["-Wstrict-prototypes", "-Wmissing-prototypes", "-Wcast-qual", "-Wundef"]
    cxx_flags = ["-Wold-style-cast", "-Wzero-as-null-pointer-constant"]
    builds = [(opts.cc, "c", "c99", c_flags), (opts.cxx, "c++", "c++98", cxx_flags),
              (opts.cc, "c", "c89", c_flags)]  # C89: the library alone (the responder is C99)
    # On the build machine, the other compiler family too, at the newest standards: clang
    # warns of what g++ does not (NULL as a null pointer constant, the comma operator).
    native = not (opts.emulator or opts.target_flag or opts.windows)
    others = [("gcc", "g++")] if "clang" in (opts.cc or "") else [("clang", "clang++"),
                                                                  ("clang-19", "clang++-19")]
    found = [pair for pair in others if shutil.which(pair[0]) and shutil.which(pair[1])]
    if native and found:
        builds += [(found[0][0], "c", "c2x", c_flags), (found[0][1], "c++", "c++20", cxx_flags)]
    for compiler, language, standard, flags in builds:
        if not compiler:
            continue
        flags = [f"-std={standard}", *flags]
        if language == "c++":
            flags.append("-Wcomma" if "clang" in compiler else "-Wuseless-cast")
        exe = root / f"site_{Path(compiler).name}_{standard}.exe"
        sources = ["-c", "out/site.c"] if standard == "c89" else ["out/site.c", "use.c", "-o", str(exe)]
        build = subprocess.run([compiler, *opts.target_flag, *strict, *flags, "-x", language,
                                *sources], cwd=root, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if build.returncode != 0:
            failures.append(f"{language} {standard}: {build.stdout.decode(errors='replace')}")
        elif standard != "c89" and subprocess.run(opts.emulator + [str(exe)], cwd=root).returncode != 0:
            failures.append(f"{language}: the program did not find its file")
    return failures


def check_manual():
    """Every command the step's usage names has its line in its manual page's synopsis and its
    entry in the description."""
    if not opts.step:
        return 77
    usage = subprocess.run(opts.emulator + [str(opts.step)], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT).stdout.decode()
    commands = sorted(set(re.findall(r"vormesta-step ([a-z-]+)", usage)))
    page = (Path(__file__).resolve().parents[2] / "docs/vormesta-step.1").read_text()
    if len(commands) < 5:
        return [f"the usage names {commands}"]
    return [f"{command}: not in vormesta-step(1)'s synopsis and description" for command in commands
            if f".B vormesta-step {command}" not in page or f".TP\n.B {command}\n" not in page]


def main():
    global opts
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", type=Path, help="the built executable")
    parser.add_argument("--faulty-tool", type=Path,
                        help="the test build of the tool that fails a chosen call")
    parser.add_argument("--step", type=Path, help="the built vormesta-step")
    parser.add_argument("--faulty-step", type=Path,
                        help="the test build of vormesta-step that fails a chosen call")
    parser.add_argument("--emulator", action="append", default=[],
                        help="command that runs a target executable (repeat per word)")
    parser.add_argument("--windows", action="store_true", help="expect a Windows build")
    parser.add_argument("--cc", help="C compiler for the target")
    parser.add_argument("--target-flag", action="append", default=[],
                        help="a flag the target's compilers need (repeat per flag)")
    parser.add_argument("--cxx", help="C++ compiler for the target")
    parser.add_argument("--work", type=Path, default=Path.cwd() / "cli_work")
    parser.add_argument("--list", action="store_true", help="print the case names")
    parser.add_argument("case", nargs="?")
    opts = parser.parse_args()

    if opts.list:
        print(";".join(list(CASES) + ["compiles", "manual", "windows_input_past_4gib", "large_killed_part_way",
                                      "large_concurrent_runs", "large_reserved_names_compile"]))
        return 0
    special = {"compiles": check_compiles, "manual": check_manual,
               "windows_input_past_4gib": check_windows_past_4gib,
               "large_killed_part_way": check_killed,
               "large_concurrent_runs": check_concurrent,
               "large_reserved_names_compile": check_reserved_names}
    if opts.case in special:
        if opts.case.startswith("large_") and (opts.emulator or opts.windows):
            print(f"{opts.case}: skipped, needs the tool to run natively")
            return 77
        failures = special[opts.case]()
        if failures == 77:
            return 77
    else:
        case = CASES[opts.case]
        if case.only and case.only not in host_kinds():
            print(f"{opts.case}: skipped, means something on a {case.only} host only")
            return 77
        if case.other_user and not opts.windows and os.geteuid() != 0:
            print(f"{opts.case}: skipped, running as another user needs root")
            return 77
        if case.process_1 and (opts.emulator or not process_1_launcher()):
            print(f"{opts.case}: skipped, needs the tool to run natively as process 1")
            return 77
        if case.read_only and (opts.windows or not read_only_launcher()):
            print(f"{opts.case}: skipped, needs a read-only bind mount")
            return 77
        if case.memory and opts.emulator:
            print(f"{opts.case}: skipped, an emulator's memory is not the tool's")
            return 77
        if case.step and not opts.step:
            print(f"{opts.case}: skipped, no vormesta-step was given")
            return 77
        asked = " ".join(case.args + [word for run in case.before if not callable(run)
                                         for word in run])
        if case.step and "gzip" in asked and b"gzip" not in step_codings():
            print(f"{opts.case}: skipped, this vormesta-step has no gzip")
            return 77
        if case.fault and not (opts.faulty_step if case.step else opts.faulty_tool):
            print(f"{opts.case}: skipped, this build has no way to fail a chosen call")
            return 77
        if case.only == "protected-symlinks":
            switch_on()
        failures = [f for _ in range(case.runs) for f in check_case(opts.case, case)]
        # Under Wine a run's whole output has been lost once in hundreds (a loaded CI machine,
        # status and files right): such a case runs once more, and says so.
        if opts.windows and any(f.startswith("stdout b''") for f in failures):
            print(f"{opts.case}: nothing came through Wine's pipe; run once more")
            failures = [f for _ in range(case.runs) for f in check_case(opts.case, case)]
    for failure in failures:
        print(f"{opts.case}: {failure}")
    print(f"{opts.case}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
