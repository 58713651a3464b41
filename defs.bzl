"""Files embedded in C and C++ programs with vormesta, for Bazel builds.

    load("@vormesta//:defs.bzl", "vormesta_embed", "vormesta_library")

    vormesta_embed(name = "assets", srcs = ["icons/app.png"], base_dir = None)
    vormesta_library(name = "blobs", srcs = ["firmware/image.bin"])
    cc_binary(name = "app", srcs = ["main.c"], deps = [":assets", ":blobs"])

Each file's path relative to its package (or to `base_dir`, itself relative to the package),
with the extension cut and ".h" after it, is what `#include "..."` names, and the array is named
after that path as the tool names it: "icons/app.h" and icons_app. Headers are reached by
#include "..." only (-iquote), so that errno.txt's errno.h never hides <errno.h>.

vormesta_embed gives the tool's header, which holds the array: include it in one source. The
tool, built in the exec configuration, runs on a copy in the output tree, so cross builds and
remote execution work.

vormesta_library gives a library: `#include "firmware/image.h"` declares the array with its bound
and C linkage, in any number of sources. vormesta-step writes each file's bytes straight into an
object like the probe the target's compiler makes, so no compiler ever reads them and the data
actions stay cacheable (--disk_cache, remote caches).

Both run vormesta-step, built in the exec configuration, never a shell or Python. Each step checks
that the header path declared here is the one the tool's rule gives.
"""

load("@bazel_tools//tools/cpp:toolchain_utils.bzl", "find_cpp_toolchain")
load("@rules_cc//cc:defs.bzl", "cc_library")

def _header_path(relative):
    # The extension is what follows the last dot of the last component, where that dot is not
    # the first character of the whole path.
    slash = relative.rfind("/")
    dot = relative.rfind(".")
    if dot > 0 and dot > slash:
        relative = relative[:dot]
    return relative + ".h"

# Each file of `ctx.files.srcs` with its path below its base and its header's path, refusing a
# file outside its base, and, where `headers` are made, one that would be its own header and two
# that give one header.
def _placed(ctx, caller, headers = True):
    base = "/".join([part for part in [ctx.label.workspace_root, ctx.label.package, ctx.attr.base_dir] if part])
    placed = []
    taken = {}
    for file in ctx.files.srcs:
        path = file.path[len(file.root.path) + 1:] if file.root.path else file.path
        if base and not path.startswith(base + "/"):
            fail("%s: '%s' lies outside its base %s" % (caller, file.short_path, base))
        relative = path[len(base) + 1:] if base else path
        header = _header_path(relative)
        if not headers:
            placed.append(struct(file = file, relative = relative, header = header))
            continue
        if header == relative:
            fail("%s: '%s' would be its own header; give it another extension" % (caller, relative))
        if header in taken:
            fail("%s: '%s' and '%s' both give the header %s" % (caller, relative, taken[header], header))
        taken[header] = relative
        placed.append(struct(file = file, relative = relative, header = header))
    return placed

_PLAIN = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._/-"

# A file's object's path: Bazel 4.2 cannot hand the linker a path with a space in it, so other
# characters become '_', and the path's hash keeps two such names apart.
def _object_path(relative):
    plain = "".join([c if c in _PLAIN else "_" for c in relative.elems()])
    return plain if plain == relative else "%s_%d" % (plain, hash(relative) & 0xFFFFFFFF)

def _step(ctx, arguments, inputs, outputs, message):
    ctx.actions.run(
        executable = ctx.executable._step,
        arguments = arguments,
        inputs = inputs,
        outputs = outputs,
        mnemonic = "Vormesta",
        progress_message = message,
    )

def _vormesta_headers_impl(ctx):
    folder = ctx.label.name + "_vormesta"
    headers = []
    root = folder
    for file in _placed(ctx, "vormesta_embed"):
        header = ctx.actions.declare_file(folder + "/" + file.header)
        _step(ctx, ["embed", file.file.path, file.relative, header.path], [file.file], [header],
              "vormesta: embedding %s" % file.relative)
        headers.append(header)
        root = header.path[:-len(file.header) - 1]
    context = cc_common.create_compilation_context(
        headers = depset(headers),
        quote_includes = depset([root]),
    )
    return [DefaultInfo(files = depset(headers)), CcInfo(compilation_context = context)]

_attrs = {
    "srcs": attr.label_list(allow_files = True, mandatory = True),
    "base_dir": attr.string(),
    "_step": attr.label(default = Label("//:vormesta-step"), executable = True, cfg = "exec"),
}

_vormesta_headers = rule(implementation = _vormesta_headers_impl, attrs = _attrs)

# Each file in an object of its own, and the index's table compiled from their sizes.
def _file_objects(ctx, folder, probe, index, header, view):
    options = (["--text"] if ctx.attr.text else []) + (["--align", str(ctx.attr.align)] if ctx.attr.align else []) + ["--library", ctx.attr.library]
    objects = []
    declarations = []
    listed = []
    for file in _placed(ctx, "vormesta_library", ctx.attr.declare):
        data = ctx.actions.declare_file(folder + "/objects/" + _object_path(file.relative) + ".o")
        declared = [ctx.actions.declare_file(folder + "/" + file.header)] if ctx.attr.declare else []
        _step(ctx, ["object"] + options + [probe.path, file.file.path, file.relative, data.path] + [d.path for d in declared],
              [probe, file.file], [data] + declared, "vormesta: embedding %s" % file.relative)
        objects.append(data)
        declarations += declared
        listed.append("%s\t%s\t%s" % (file.file.path, file.relative, "text" if ctx.attr.text else "bytes"))

    # The index: vormesta/<name>.h and a table of paths and sizes, compiled; never the bytes.
    files = ctx.actions.declare_file(folder + "/index/files.txt")
    ctx.actions.write(files, "".join([line + "\n" for line in listed]))
    _step(ctx, ["index", ctx.attr.library, files.path, index.path, header.path],
          [files] + ctx.files.srcs, [index, header, view], "vormesta: indexing %s" % ctx.attr.library)
    return objects, declarations

# A web library: each file's forms made by an action of its own (so that an edit compresses one
# file again, and each comes from the cache), then the library step writes one object with the
# bytes and the forms, and the index with types and validators.
def _web_library(ctx, folder, root, probe, index, header, view):
    flags = (["text"] if ctx.attr.text else []) + (["align=%d" % ctx.attr.align] if ctx.attr.align else [])
    flags += (["declare"] if ctx.attr.declare else []) + (["etag"] if ctx.attr.etag else []) + ctx.attr.compress
    data = ctx.actions.declare_file(folder + "/" + ctx.attr.library + ".o")
    record = ctx.actions.declare_file(folder + "/index/record")
    lines = ["name\t" + ctx.attr.library, "probe\t" + probe.path, "object\t" + data.path,
             "source\t" + index.path, "header\t" + header.path, "record\t" + record.path,
             "declarations\t" + root]
    if ctx.attr.live:
        lines.append("live")
    inputs = [probe]
    declarations = []
    for file in _placed(ctx, "vormesta_library", ctx.attr.declare):
        lines.append("file\t%s\t%s\t%s" % (file.file.path, file.relative, " ".join(flags)))
        inputs.append(file.file)
        if ctx.attr.declare:
            declarations.append(ctx.actions.declare_file(folder + "/" + file.header))
        if ctx.attr.compress:
            made = folder + "/forms/" + _object_path(file.relative)
            forms = [ctx.actions.declare_file(made + "." + coding) for coding in ctx.attr.compress]
            prefix = forms[0].path[:-len(ctx.attr.compress[0]) - 1]
            _step(ctx, ["forms", file.file.path, file.relative, prefix] + ctx.attr.compress,
                  [file.file], forms, "vormesta: compressing %s" % file.relative)
            lines.append("forms\t%s\t%s" % (file.relative, prefix))
            inputs += forms
    _step(ctx, ["library", "-"] + lines, inputs, [data, index, header, view, record] + declarations,
          "vormesta: library %s" % ctx.attr.library)
    return [data], declarations

def _vormesta_library_impl(ctx):
    cc_toolchain = find_cpp_toolchain(ctx)
    features = cc_common.configure_features(
        ctx = ctx,
        cc_toolchain = cc_toolchain,
        requested_features = ctx.features,
        unsupported_features = ctx.disabled_features,
    )
    folder = ctx.label.name + "_vormesta"

    # The probe: the target's compiler's own object, that the step writes the data objects like.
    probe_source = ctx.actions.declare_file(folder + "/vormesta_probe.c")
    _step(ctx, ["probe-source", probe_source.path], [], [probe_source], "vormesta: probe source")
    # Without LTO, whatever the build asks (--copt=-flto, --features=thin_lto): the probe must
    # be a real object.
    probe_features = cc_common.configure_features(
        ctx = ctx,
        cc_toolchain = cc_toolchain,
        requested_features = ctx.features,
        unsupported_features = ctx.disabled_features + ["thin_lto"],
    )
    _, probe_outputs = cc_common.compile(
        name = ctx.label.name + "_vormesta_probe",
        actions = ctx.actions,
        feature_configuration = probe_features,
        cc_toolchain = cc_toolchain,
        srcs = [probe_source],
        user_compile_flags = ["/GL-"] if cc_toolchain.compiler == "msvc-cl" else ["-fno-lto"],
    )
    probe = (probe_outputs.objects or probe_outputs.pic_objects)[0]

    root = ctx.bin_dir.path + "/" + "/".join([part for part in [ctx.label.workspace_root, ctx.label.package, folder] if part])
    index = ctx.actions.declare_file(folder + "/index/" + ctx.attr.library + ".c")
    header = ctx.actions.declare_file(folder + "/vormesta/" + ctx.attr.library + ".h")
    view = ctx.actions.declare_file(folder + "/vormesta/files.hpp")
    if ctx.attr.compress or ctx.attr.etag or ctx.attr.live:
        objects, declarations = _web_library(ctx, folder, root, probe, index, header, view)
    else:
        objects, declarations = _file_objects(ctx, folder, probe, index, header, view)

    context, index_outputs = cc_common.compile(
        name = ctx.label.name,
        actions = ctx.actions,
        feature_configuration = features,
        cc_toolchain = cc_toolchain,
        srcs = [index],
        public_hdrs = declarations + [header, view],
        quote_includes = [root],
        # A live index reads the files at run time (their paths below the workspace, which
        # `bazel run` names) where this is defined.
        local_defines = ["VORMESTA_LIVE"] if ctx.attr.live else [],
    )
    msvc = cc_toolchain.compiler in ["msvc-cl", "clang-cl"]
    outputs = cc_common.create_compilation_outputs(
        objects = depset(objects + index_outputs.objects),
        pic_objects = depset(objects + index_outputs.pic_objects),
    )
    linking, _ = cc_common.create_linking_context_from_compilation_outputs(
        name = ctx.label.name,
        actions = ctx.actions,
        feature_configuration = features,
        cc_toolchain = cc_toolchain,
        compilation_outputs = outputs,
        user_link_flags = ["-pthread"] if ctx.attr.live and not msvc else [],
    )
    return [
        DefaultInfo(files = depset(declarations)),
        CcInfo(compilation_context = context, linking_context = linking),
    ]

_vormesta_library = rule(
    implementation = _vormesta_library_impl,
    attrs = dict(
        _attrs,
        library = attr.string(mandatory = True),
        text = attr.bool(),
        align = attr.int(),
        declare = attr.bool(default = True),
        etag = attr.bool(),
        compress = attr.string_list(),
        live = attr.bool(),
        _cc_toolchain = attr.label(default = Label("@bazel_tools//tools/cpp:current_cc_toolchain")),
    ),
    fragments = ["cpp"],
    toolchains = ["@bazel_tools//tools/cpp:toolchain_type"],
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

def vormesta_library(name, srcs, base_dir = None, text = False, align = 0, declare = True,
                     etag = False, compress = [], live = False, **kwargs):
    """A library `name` that holds the bytes of `srcs`, declares their arrays, and finds them by
    path: #include "vormesta/<name>.h" for <name>_find, _count, _at and _below.

    Args:
      name: the library, for the deps of the targets that use the arrays.
      srcs: the files to embed (files of the package, or targets that make them); a glob picks
        a folder by patterns: glob(["www/**/*.html"], exclude = ["www/drafts/**"]).
      base_dir: the folder, relative to the package, that the headers' paths start below.
      text: a NUL after each file's bytes (in the array, not in the index's size).
      align: the arrays' alignment, a power of two up to 4096.
      declare: a header and an array name for each file; False for a folder, whose files are
        found through the index alone (so index.html beside index.js is no clash).
      etag: a strong validator of each file's bytes in the index.
      compress: content codings ("gzip", "br", "zstd"): each file's forms made at build time,
        one action per file, each kept where it is smaller than the bytes, with a validator.
      live: read the files at run time while developing, as `bazel run` or a program started
        in the workspace finds them (a select() sets it for some builds alone); the bytes are
        embedded all the same, and serve where the files are gone.
      **kwargs: passed on to the cc_library (visibility, tags...).
    """
    _vormesta_library(name = name + "_data", library = name, srcs = srcs, base_dir = base_dir or "",
                      text = text, align = align, declare = declare, etag = etag,
                      compress = compress, live = live)
    cc_library(name = name, deps = [":" + name + "_data"], **kwargs)
