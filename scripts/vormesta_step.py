#!/usr/bin/env python3
"""One build step with vormesta, for build systems whose steps cannot choose their working
folder or leave a file untouched when it comes out the same (Meson, Bazel).

  vormesta_step.py embed TOOL INPUT RELATIVE HEADER
      Runs TOOL on a copy of INPUT at RELATIVE below the folder that HEADER, the header's path,
      lies in at RELATIVE's header path (RELATIVE with its extension replaced by ".h"): the
      array is named after RELATIVE, whichever folder the step runs in.

  vormesta_step.py library TOOL INPUT RELATIVE ROAD SOURCE DECLARATION
      Writes SOURCE, which puts INPUT's bytes in an object (ROAD: "assembler", read by the
      assembler at INPUT's path as given, for the compile step's folder; "header", the tool's
      header compiled, for compilers without GNU assembly), and
      DECLARATION, the array's extern declaration with its bound and C linkage, rewritten only
      when it changes, so that callers compile again only when the size does. The array's name
      is the tool's: it runs on an empty file at RELATIVE in a scratch folder.

The texts are vormesta's CMake package's own (templates/), so that every build system writes the
same ones.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
# In the repository (or Bazel's runfiles), where Meson installs them and where the CMake
# package does.
TEMPLATES = [HERE.parent / "cmake" / "templates", HERE.parent / "share" / "vormesta" / "templates",
             *HERE.parent.glob("lib*/**/cmake/vormesta/templates")]


def header_path(relative):
    dot = relative.rfind(".")
    return (relative[:dot] if dot > 0 and dot > relative.rfind("/") else relative) + ".h"


def header_of(folder, relative):
    """Runs the tool in `folder` on `relative`; returns the header it wrote."""
    done = subprocess.run([TOOL, relative], cwd=folder, stdout=subprocess.PIPE)
    header = Path(folder) / header_path(relative)
    if done.returncode != 0 or not header.is_file():
        sys.exit(f"vormesta: {TOOL} failed on {relative}: {done.stdout.decode(errors='replace')}")
    return header


def stage(folder, source, relative):
    staged = Path(folder) / relative
    staged.parent.mkdir(parents=True, exist_ok=True)
    if source is None:
        staged.write_bytes(b"")
    else:
        shutil.copyfile(source, staged)
    return header_of(folder, relative)


def fill(template, values):
    text = next(t / template for t in TEMPLATES if (t / template).is_file()).read_text()
    return re.sub(r"@(\w+)@", lambda m: values[m.group(1)], text)


def library(source_file, relative, road, source, declaration):
    size = Path(source_file).stat().st_size
    if size == 0:
        sys.exit(f"vormesta: {source_file} is empty, and C has no arrays of size 0")
    with tempfile.TemporaryDirectory() as scratch:
        first = stage(scratch, None if road == "assembler" else source_file, relative)
        text = first.read_text(encoding="latin-1")
        name = re.match(r"const unsigned char (\w+)\[\] = \{", text).group(1)
        escaped = source_file.replace("\\", "\\\\\\\\").replace('"', '\\\\\\"')
        guard = re.sub(r"\W", "_", f"VORMESTA_{Path(declaration).name}_") + \
            hashlib.md5(declaration.encode()).hexdigest()[:12]
        beside = os.path.relpath(declaration, Path(source).parent).replace(os.sep, "/")
        values = dict(NAME=name, ESCAPED_INPUT=escaped, SIZE=str(size), GUARD=guard,
                      FILE_NAME=Path(source_file).name)
        if road == "assembler":
            code = fill("assembler.c.in", values)
        else:  # the declaration first, found beside the source, then the tool's header itself
            code = f'#include "{beside}"\n' + text
        Path(source).write_text(code, encoding="latin-1")
    text = fill("declaration.h.in", values)
    path = Path(declaration)
    if not path.is_file() or path.read_text() != text:
        path.write_text(text)


def main(argv):
    global TOOL
    if len(argv) == 6 and argv[1] == "embed":
        TOOL = str(Path(argv[2]).resolve())
        header = Path(argv[5]).resolve().as_posix()
        if not header.endswith("/" + header_path(argv[4])):
            sys.exit(f"vormesta: {argv[5]} is not {header_path(argv[4])} below a folder")
        stage(header[:-len(header_path(argv[4]))], argv[3], argv[4])
    elif len(argv) == 8 and argv[1] == "library" and argv[5] in ("assembler", "header"):
        TOOL = str(Path(argv[2]).resolve())
        library(argv[3], argv[4], argv[5], argv[6], argv[7])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
