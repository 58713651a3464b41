"""vormesta_embed: files compiled into a C or C++ program as headers, for Bazel builds.

    load("@vormesta//:defs.bzl", "vormesta_embed")

    vormesta_embed(name = "assets", srcs = ["icons/app.png"], base_dir = None)
    cc_binary(name = "app", srcs = ["main.c"], deps = [":assets"])

`#include "icons/app.h"` then gives `const unsigned char icons_app[]`: each file's path relative
to its package (or to `base_dir`, itself relative to the package), with the extension cut and
".h" after it, and the array named after that path as the tool names it. Each file is copied
into the output tree and converted there by the tool built in the exec configuration, so cross
builds and remote execution work. The headers are reached by #include "..." only (-iquote), so
that errno.txt's errno.h never hides <errno.h>. Include each header in one source file.
"""

load("@rules_cc//cc:defs.bzl", "cc_library")

def _header_path(relative):
    # The extension is what follows the last dot of the last component, where that dot is not
    # the first character of the whole path.
    slash = relative.rfind("/")
    dot = relative.rfind(".")
    if dot > 0 and dot > slash:
        relative = relative[:dot]
    return relative + ".h"

def _relative_path(ctx, file):
    path = file.path
    if file.root.path:
        path = path[len(file.root.path) + 1:]
    base = "/".join([part for part in [ctx.label.workspace_root, ctx.label.package, ctx.attr.base_dir] if part])
    if base and not path.startswith(base + "/"):
        fail("vormesta_embed: '%s' lies outside its base %s" % (file.short_path, base))
    return path[len(base) + 1:] if base else path

def _vormesta_headers_impl(ctx):
    folder = ctx.label.name + "_vormesta"
    headers = []
    roots = []
    taken = {}
    for file in ctx.files.srcs:
        relative = _relative_path(ctx, file)
        header_path = _header_path(relative)
        if header_path == relative:
            fail("vormesta_embed: '%s' would be its own header; give it another extension" % relative)
        if header_path in taken:
            fail("vormesta_embed: '%s' and '%s' both give the header %s" % (relative, taken[header_path], header_path))
        taken[header_path] = relative
        staged = ctx.actions.declare_file(folder + "/" + relative)
        header = ctx.actions.declare_file(folder + "/" + header_path)
        root = staged.path[:-len(relative) - 1]

        # The tool writes beside its input and names the array after the path it is given.
        ctx.actions.run_shell(
            inputs = [file],
            tools = [ctx.executable._tool],
            outputs = [staged, header],
            command = 'tool="$PWD/$4" && cp "$1" "$2" && cd "$3" && "$tool" "$5"',
            arguments = [file.path, staged.path, root, ctx.executable._tool.path, relative],
            mnemonic = "VormestaEmbed",
            progress_message = "vormesta: embedding %s" % relative,
        )
        headers.append(header)
        roots.append(root)
    context = cc_common.create_compilation_context(
        headers = depset(headers),
        quote_includes = depset(roots),
    )
    return [DefaultInfo(files = depset(headers)), CcInfo(compilation_context = context)]

_vormesta_headers = rule(
    implementation = _vormesta_headers_impl,
    attrs = {
        "srcs": attr.label_list(allow_files = True, mandatory = True),
        "base_dir": attr.string(),
        "_tool": attr.label(default = Label("//:vormesta"), executable = True, cfg = "exec"),
    },
)

def vormesta_embed(name, srcs, base_dir = None, **kwargs):
    """A cc_library `name` whose headers hold the bytes of `srcs`.

    Args:
      name: the cc_library, for the deps of the targets that include the headers.
      srcs: the files to embed (files of the package, or targets that make them).
      base_dir: the folder, relative to the package, that the headers' paths start below.
      **kwargs: passed on to the cc_library (visibility, tags...).
    """
    _vormesta_headers(name = name + "_headers", srcs = srcs, base_dir = base_dir or "")
    cc_library(name = name, deps = [":" + name + "_headers"], **kwargs)
