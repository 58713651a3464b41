# vormesta_embed(<target> [BASE_DIR <dir>] [SCOPE PRIVATE|PUBLIC|INTERFACE] <file>...)
#
# Compiles files into <target> as headers. Each file is named relative to the calling folder, or
# absolutely; its header goes at the file's path relative to its base, with the extension
# replaced by ".h", inside the build tree: icons/app.png gives #include "icons/app.h" and the
# array icons_app. The base is BASE_DIR (relative to the calling folder) when given; otherwise
# the calling folder, or, for a file below the calling binary folder (one the build makes), that
# binary folder. The tool writes beside its input, so the input is staged as a copy under the
# build folder and the tool runs there on the relative path. A header is made again when its
# file (or the tool) changes, and only then; a file made by add_custom_command in the calling
# folder is embedded after it is made. A file dropped from the list takes its header with it.
#
# The folder of headers reaches <target> (SCOPE PRIVATE, the default; INTERFACE for an INTERFACE
# library) or its users too (PUBLIC, INTERFACE), for #include "..." only where the compiler
# allows, so that features.json's features.h never hides <features.h>.
#
# vormesta_add_library(<name> [BASE_DIR <dir>] [TEXT] [ALIGN <n>] [ETAG] [COMPRESS <coding>...] [LIVE]
#                      [<file>...]
#                      [DIRECTORY <dir> [PATTERNS <glob>...] [EXCLUDE <glob>...] [HIDDEN] [DECLARE]])
#
# A library target <name> holding the bytes of the files listed and of the files of DIRECTORY,
# and its index, "vormesta/<name>.h" (<name>_find, _count, _at, _below). One step per library,
# vormesta-step library, runs at every build: it walks the folder, and writes the library's one
# object (like the probe the target's compiler made; no compiler reads the bytes), the index's
# source and the declarations again only when what it read changed. A listed file keeps its
# declaration, "<path>.h" with its array; a folder's files get them with DECLARE. Where no object
# can be written like the compiler's (VORMESTA_LIBRARY_ROAD=header), the step writes the bytes as
# a C source instead.
#
# LIVE (or VORMESTA_LIVE, for every library; a generator expression such as $<CONFIG:Debug> picks
# configurations) makes the library read its folders and files at run time, by the step's own
# walk, while developing: an edit is seen at the next call. The files are embedded all the same,
# and serve where the folders are gone. Built without it, the library holds nothing of it.
#
# Each file's index entry gives its media type. ETAG adds a strong validator of its bytes;
# COMPRESS gzip, br or zstd adds compressed forms, made at build time, each kept where it is
# smaller than the bytes (and a validator for each). A file's source properties VORMESTA_ETAG and
# VORMESTA_COMPRESS set them for it alone.
#
# VORMESTA_EXECUTABLE names a tool to run instead of the one this build provides.
include_guard(GLOBAL)

# vormesta/http.h and the servers' adapters, which every library's users reach: include/ beside
# cmake/ in the sources, or three folders up from lib/cmake/vormesta where installed.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/../include/vormesta/http.h")
  get_filename_component(_vormesta_include "${CMAKE_CURRENT_LIST_DIR}/../include" ABSOLUTE)
else()
  get_filename_component(_vormesta_include "${CMAKE_CURRENT_LIST_DIR}/../../../include" ABSOLUTE)
endif()
set_property(GLOBAL PROPERTY VORMESTA_INCLUDE_DIR "${_vormesta_include}")

set(VORMESTA_EXECUTABLE "" CACHE FILEPATH "An existing vormesta to run instead of building one")
set(VORMESTA_LIBRARY_ROAD auto CACHE STRING
    "How vormesta_add_library puts bytes into objects: auto, object or header")
set_property(CACHE VORMESTA_LIBRARY_ROAD PROPERTY STRINGS auto object header)
# Taken in as sources: a tool for the build machine can be built while configuring.
if(COMMAND _vormesta_build_host_tool)
  set_property(GLOBAL PROPERTY VORMESTA_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/..")
endif()

# The step program beside the tool given (VORMESTA_EXECUTABLE) or the one built for the build
# machine (a build folder or an install holds both); empty where there is neither.
function(_vormesta_given_step step_var)
  get_property(tool GLOBAL PROPERTY VORMESTA_EMBED_TOOL)
  if(VORMESTA_EXECUTABLE)
    set(tool "${VORMESTA_EXECUTABLE}")
  endif()
  set(step "")
  if(tool)
    get_filename_component(folder "${tool}" DIRECTORY)
    set(step "${folder}/vormesta-step${CMAKE_HOST_EXECUTABLE_SUFFIX}")
  endif()
  set(${step_var} "${step}" PARENT_SCOPE)
endfunction()

# The step program the build runs, and what a step depends on for it: the same for every
# configuration, so that switching configurations embeds nothing again.
function(_vormesta_step step_var depends_var)
  _vormesta_given_step(step)
  if(NOT step)
    set(${step_var} vormesta::step PARENT_SCOPE)
    set(${depends_var} "$<TARGET_FILE:vormesta::step>" PARENT_SCOPE)
    return()
  endif()
  set(${step_var} "${step}" PARENT_SCOPE)
  set(${depends_var} "${step}" PARENT_SCOPE)
endfunction()

# A step program that runs while configuring: beside the tool given, the installed one, or one
# built now.
function(_vormesta_step_now step_var)
  _vormesta_given_step(step)
  if(NOT step AND TARGET vormesta::step)
    get_target_property(imported vormesta::step IMPORTED)
    if(imported)
      get_target_property(step vormesta::step LOCATION)
    endif()
  endif()
  if(NOT step)
    get_property(source_dir GLOBAL PROPERTY VORMESTA_SOURCE_DIR)
    _vormesta_build_host_tool("${source_dir}")
    _vormesta_given_step(step)
  endif()
  if(NOT step OR NOT EXISTS "${step}")
    message(FATAL_ERROR "vormesta: no vormesta-step runs while configuring, to name headers "
                        "and arrays; name a vormesta with one beside it with "
                        "-DVORMESTA_EXECUTABLE=...")
  endif()
  set(${step_var} "${step}" PARENT_SCOPE)
endfunction()

# The header path and array name of each of `relatives`, from the step program: the tool's own
# rule, the same in every build system. Refuses a name no build file can carry.
function(_vormesta_names caller relatives headers_var arrays_var)
  _vormesta_step_now(step)
  execute_process(COMMAND "${step}" names ${relatives} RESULT_VARIABLE failed
                  OUTPUT_VARIABLE printed ERROR_VARIABLE message)
  if(failed)
    message(FATAL_ERROR "${caller}: ${message}")
  endif()
  string(REGEX REPLACE "\n$" "" printed "${printed}")
  string(REPLACE "\n" ";" lines "${printed}")
  set(headers "")
  set(arrays "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^(.*)\t([A-Za-z0-9_]+)$" line "${line}")
    list(APPEND headers "${CMAKE_MATCH_1}")
    list(APPEND arrays "${CMAKE_MATCH_2}")
  endforeach()
  set(${headers_var} "${headers}" PARENT_SCOPE)
  set(${arrays_var} "${arrays}" PARENT_SCOPE)
endfunction()

# The path of `path` below `base`, or empty when it lies outside.
function(_vormesta_below base path out_var)
  file(RELATIVE_PATH relative "${base}" "${path}")
  if(relative MATCHES "^\\.\\./" OR relative STREQUAL ".." OR IS_ABSOLUTE "${relative}")
    set(relative "")
  endif()
  set(${out_var} "${relative}" PARENT_SCOPE)
endfunction()

# Run once the calling folder is configured, so that a file generated further down counts.
function(_vormesta_check_exists caller source file)
  get_source_file_property(generated "${source}" GENERATED)
  if(NOT EXISTS "${source}" AND NOT generated)
    message(FATAL_ERROR "${caller}: '${file}' (${source}) does not exist, and no "
                        "add_custom_command in ${CMAKE_CURRENT_SOURCE_DIR} makes it")
  endif()
endfunction()

# Where `target` is installed (its archive among the files the install wrote), the headers of
# its library (`declarations`: vormesta/<name>.h, files.hpp and declared files' headers) go to
# the install's include folder, and its `object`, where it has one, joins that archive: the copy
# is paid by the install, not by every build. The rule runs last in the install (deferred to the
# top folder's end), after every rule that may install the target.
function(_vormesta_install_with_library target declarations object)
  include(GNUInstallDirs)
  set(code "file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}\"
                 TYPE DIRECTORY FILES \"${declarations}/\")")
  if(object)
    if(CMAKE_C_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC" OR
       CMAKE_CXX_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC" OR MSVC)
      set(add "\"${CMAKE_AR}\" /nologo \"/OUT:\${archive}\" \"\${archive}\" \"${object}\"")
    else()
      set(add "\"${CMAKE_AR}\" rs \"\${archive}\" \"${object}\"")
    endif()
    string(APPEND code "
          message(STATUS \"Adding: ${object} to \${archive}\")
          execute_process(COMMAND ${add} RESULT_VARIABLE failed)
          if(failed)
            message(FATAL_ERROR \"vormesta: ${object} could not be added to \${archive}\")
          endif()")
  endif()
  set(all "")
  if(CMAKE_VERSION VERSION_GREATER_EQUAL 3.21)
    set(all ALL_COMPONENTS)
  endif()
  cmake_language(EVAL CODE "
    cmake_language(DEFER DIRECTORY \"${CMAKE_SOURCE_DIR}\" CALL install CODE [==[
      foreach(installed IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
        get_filename_component(installed_name \"\${installed}\" NAME)
        if(installed_name STREQUAL \"$<TARGET_FILE_NAME:${target}>\")
          set(archive \"\$ENV{DESTDIR}\${installed}\")
          ${code}
          break()
        endif()
      endforeach()]==] ${all})")
endfunction()

# Where the headers reach: -iquote, for the C and C++ sources, keeps them from hiding system
# headers where the compiler has it; other compilers get an ordinary include folder.
function(_vormesta_add_include_folder target scope root)
  set(quote_only TRUE)
  foreach(lang C CXX)
    if(CMAKE_${lang}_COMPILER_LOADED AND (NOT CMAKE_${lang}_COMPILER_ID MATCHES
       "^(GNU|Clang|AppleClang)$" OR CMAKE_${lang}_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC"))
      set(quote_only FALSE)
    endif()
  endforeach()
  # Of this build alone: an install names no build folder.
  if(quote_only)
    target_compile_options(${target} ${scope}
                           "$<BUILD_INTERFACE:$<$<COMPILE_LANGUAGE:C,CXX>:-iquote${root}>>")
  else()
    target_include_directories(${target} ${scope} "$<BUILD_INTERFACE:${root}>")
  endif()
endfunction()

# Each file's absolute path (`sources_var`), its path below `base_dir` (relative to the calling
# folder) or the calling folders (`relatives_var`), its header's path and its array's name;
# refuses a file that lies outside its base, a name no build file can carry, and one that gives
# a header another file of `target` gives.
function(_vormesta_place caller target base_dir files sources_var relatives_var headers_var
         arrays_var)
  set(base "")
  if(base_dir)
    get_filename_component(base "${base_dir}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  set(sources "")
  set(relatives "")
  foreach(file IN LISTS files)
    # Square brackets group list items in CMake: a name holding one would be cut or joined;
    # "$<" would be taken for a generator expression in the build step.
    if(file MATCHES "[][]")
      message(FATAL_ERROR "${caller}: '${file}' holds '[' or ']', which CMake lists cannot "
                          "carry; rename it")
    elseif(file MATCHES [[\$<]])
      message(FATAL_ERROR "${caller}: '${file}' holds '$<', which CMake would take for a "
                          "generator expression; rename it")
    endif()
    get_filename_component(source "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(base)
      _vormesta_below("${base}" "${source}" relative)
    else()
      # The deeper of the two folders that holds the file: a build folder inside the source
      # folder (build/) holds the files the build makes.
      _vormesta_below("${CMAKE_CURRENT_SOURCE_DIR}" "${source}" relative)
      _vormesta_below("${CMAKE_CURRENT_BINARY_DIR}" "${source}" in_binary)
      string(LENGTH "${relative}" source_length)
      string(LENGTH "${in_binary}" binary_length)
      if(in_binary AND (NOT relative OR binary_length LESS source_length))
        set(relative "${in_binary}")
      endif()
    endif()
    if(NOT relative)
      set(where "${base}")
      if(NOT base)
        set(where "${CMAKE_CURRENT_SOURCE_DIR} (or ${CMAKE_CURRENT_BINARY_DIR})")
      endif()
      message(FATAL_ERROR "${caller}: '${file}' lies outside its base ${where}; name a "
                          "folder that holds it with BASE_DIR")
    endif()
    list(APPEND sources "${source}")
    list(APPEND relatives "${relative}")
  endforeach()
  _vormesta_names(${caller} "${relatives}" headers arrays)
  foreach(file source header IN ZIP_LISTS files sources headers)
    get_property(taken GLOBAL PROPERTY "VORMESTA_HEADER ${target} ${header}")
    if(taken)
      message(FATAL_ERROR "${caller}: '${file}' and '${taken}' both give the header "
                          "${header} for ${target}; rename one of them")
    endif()
    set_property(GLOBAL PROPERTY "VORMESTA_HEADER ${target} ${header}" "${file}")
    # A deferred call reads variables when it runs: hand it the values now.
    cmake_language(EVAL CODE
      "cmake_language(DEFER CALL _vormesta_check_exists ${caller} [==[${source}]==] [==[${file}]==])")
    # A file the build makes gets its folder now: not every generator makes it for the
    # command, nor every command for itself.
    get_filename_component(source_dir "${source}" DIRECTORY)
    _vormesta_below("${CMAKE_BINARY_DIR}" "${source_dir}" in_build)
    if(in_build)
      file(MAKE_DIRECTORY "${source_dir}")
    endif()
  endforeach()
  set(${sources_var} "${sources}" PARENT_SCOPE)
  set(${relatives_var} "${relatives}" PARENT_SCOPE)
  set(${headers_var} "${headers}" PARENT_SCOPE)
  set(${arrays_var} "${arrays}" PARENT_SCOPE)
endfunction()

# A folder of this folder's own for each call for `target`: calls for one target may come from
# any folder, and custom commands only have rules for targets of the folder that adds them.
function(_vormesta_call_folder kind target root_var suffix_var)
  get_property(calls GLOBAL PROPERTY "VORMESTA_CALLS ${target}")
  math(EXPR call "${calls} + 1")
  set_property(GLOBAL PROPERTY "VORMESTA_CALLS ${target}" ${call})
  set(suffix "")
  if(call GREATER 1)
    set(suffix "_${call}")
  endif()
  set(${root_var} "${CMAKE_CURRENT_BINARY_DIR}/${kind}/${target}${suffix}" PARENT_SCOPE)
  set(${suffix_var} "${suffix}" PARENT_SCOPE)
endfunction()

# Removes from `root` the headers of files that a call no longer embeds, so that a source that
# still includes one fails to build rather than build with stale bytes.
function(_vormesta_forget_dropped root headers)
  set(list_file "${root}/.vormesta-headers")
  set(before "")
  if(EXISTS "${list_file}")
    file(STRINGS "${list_file}" before)
  endif()
  foreach(header IN LISTS before)
    if(NOT header IN_LIST headers)
      file(REMOVE "${root}/${header}")
    endif()
  endforeach()
  list(JOIN headers "\n" text)
  file(WRITE "${list_file}" "${text}\n")
endfunction()

# A custom command that writes the tool's header for `source`, named after `relative`, at
# `header` below `root`.
function(_vormesta_embed_command root source relative header)
  _vormesta_step(step step_depends)
  get_filename_component(header_dir "${root}/${header}" DIRECTORY)
  file(MAKE_DIRECTORY "${header_dir}")
  add_custom_command(
    OUTPUT "${root}/${header}"
    COMMAND ${step} embed "${source}" "${relative}" "${root}/${header}"
    DEPENDS "${source}" ${step_depends}
    COMMENT "vormesta: embedding ${relative}"
    VERBATIM)
endfunction()

function(vormesta_embed target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "BASE_DIR;SCOPE" "")
  if(NOT TARGET ${target})
    message(FATAL_ERROR "vormesta_embed: no target named '${target}'")
  endif()
  get_target_property(type ${target} TYPE)
  if(NOT arg_SCOPE)
    set(arg_SCOPE PRIVATE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      set(arg_SCOPE INTERFACE)
    endif()
  endif()
  if(NOT arg_SCOPE MATCHES "^(PRIVATE|PUBLIC|INTERFACE)$")
    message(FATAL_ERROR "vormesta_embed: SCOPE is PRIVATE, PUBLIC or INTERFACE, not '${arg_SCOPE}'")
  endif()
  _vormesta_call_folder(vormesta_embed "${target}" root suffix)
  _vormesta_place(vormesta_embed "${target}" "${arg_BASE_DIR}" "${arg_UNPARSED_ARGUMENTS}"
                  sources relatives headers arrays)
  foreach(source relative header IN ZIP_LISTS sources relatives headers)
    _vormesta_embed_command("${root}" "${source}" "${relative}" "${header}")
  endforeach()
  _vormesta_forget_dropped("${root}" "${headers}")
  list(TRANSFORM headers PREPEND "${root}/")
  add_custom_target(${target}_vormesta_embed${suffix} DEPENDS ${headers})
  add_dependencies(${target} ${target}_vormesta_embed${suffix})
  _vormesta_add_include_folder(${target} ${arg_SCOPE} "${root}")
endfunction()

# The file extension of a source in `language` (C or CXX).
function(_vormesta_source_extension language extension_var)
  set(extension c)
  if(language STREQUAL "CXX")
    set(extension cpp)
  endif()
  set(${extension_var} ${extension} PARENT_SCOPE)
endfunction()

# An object made by the compiler of `language` for the target, from a source that defines
# `vormesta_probe`, inside an archive (`probe_var`), when the step can write objects like it;
# empty otherwise, after saying what was seen. Without LTO: the probe must be a real object.
function(_vormesta_probe language probe_var)
  get_property(probe GLOBAL PROPERTY VORMESTA_PROBE_${language})
  if(probe)
    set(${probe_var} "${probe}" PARENT_SCOPE)
    return()
  endif()
  set(folder "${CMAKE_BINARY_DIR}/vormesta_probe/${language}")
  _vormesta_source_extension(${language} extension)
  set(source "${folder}/probe.${extension}")
  _vormesta_step_now(step)
  file(MAKE_DIRECTORY "${folder}")
  execute_process(COMMAND "${step}" probe-source "${source}")
  set(no_lto "")
  # clang-cl takes -fno-lto, and has /GL- unused: an error under /WX.
  if(CMAKE_${language}_COMPILER_ID MATCHES "GNU|Clang")
    set(no_lto -fno-lto)
  elseif(MSVC)
    set(no_lto /GL-)
  endif()
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  set(CMAKE_INTERPROCEDURAL_OPTIMIZATION OFF)
  set(archive "${folder}/probe${CMAKE_STATIC_LIBRARY_SUFFIX}")
  file(REMOVE "${archive}")
  try_compile(compiled "${folder}/build" "${source}" COMPILE_DEFINITIONS ${no_lto}
              COPY_FILE "${archive}" OUTPUT_VARIABLE log)
  set(probe "")
  if(NOT compiled)
    message(WARNING "vormesta: the ${language} compiler made no probe object, so "
                    "vormesta_add_library compiles the tool's header instead:\n${log}")
  else()
    execute_process(COMMAND "${step}" probe "${archive}" RESULT_VARIABLE failed
                    OUTPUT_VARIABLE seen ERROR_VARIABLE seen OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_STRIP_TRAILING_WHITESPACE)
    if(failed)
      message(WARNING "vormesta: ${seen}\nvormesta_add_library compiles the tool's header "
                      "instead, which takes far longer for large files")
    else()
      message(STATUS "vormesta: objects for ${seen}")
      set(probe "${archive}")
    endif()
  endif()
  set_property(GLOBAL PROPERTY VORMESTA_PROBE_${language} "${probe}")
  set(${probe_var} "${probe}" PARENT_SCOPE)
endfunction()

# How the library's objects get the bytes (`road_var`): written by the step like the probe the
# target's compiler made (`probe_var`), or the tool's header compiled as C where the calling
# folder has it, C++ otherwise (`language_var`).
function(_vormesta_library_road language_var road_var probe_var)
  set(language CXX)
  if(CMAKE_C_COMPILER_LOADED)
    set(language C)
  endif()
  set(road "${VORMESTA_LIBRARY_ROAD}")
  set(probe "")
  if(NOT road MATCHES "^(auto|object|header)$")
    message(FATAL_ERROR "vormesta_add_library: VORMESTA_LIBRARY_ROAD is auto, object or header, "
                        "not '${road}'")
  endif()
  if(NOT road STREQUAL "header")
    _vormesta_probe(${language} probe)
    set(road object)
    if(NOT probe)
      set(road header)
    endif()
  endif()
  set(${language_var} ${language} PARENT_SCOPE)
  set(${road_var} ${road} PARENT_SCOPE)
  set(${probe_var} "${probe}" PARENT_SCOPE)
endfunction()

# Writes `text` to `path` unless it holds it already, so that nothing reads it as new.
function(_vormesta_write_if_changed path text)
  set(before "")
  if(EXISTS "${path}")
    file(READ "${path}" before)
  endif()
  if(NOT before STREQUAL text)
    file(WRITE "${path}" "${text}")
  endif()
endfunction()

# vormesta_available_codings(<var>): the content codings the step compresses with (a list of
# gzip, br and zstd; empty for none), for a COMPRESS that takes what there is.
function(vormesta_available_codings var)
  _vormesta_step_now(step)
  execute_process(COMMAND "${step}" codings OUTPUT_VARIABLE known RESULT_VARIABLE failed
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE " " ";" known "${known}")
  list(REMOVE_ITEM known none)
  if(failed)
    set(known "")
  endif()
  set(${var} "${known}" PARENT_SCOPE)
endfunction()

# The content codings `codings` asks for, checked against those the step was built with: one it
# lacks stops the configure, naming it.
function(_vormesta_check_codings caller codings)
  if(NOT codings)
    return()
  endif()
  vormesta_available_codings(known)
  foreach(coding IN LISTS codings)
    if(NOT coding MATCHES "^(gzip|br|zstd)$")
      message(FATAL_ERROR "${caller}: COMPRESS takes gzip, br and zstd, not '${coding}'")
    endif()
    if(NOT coding IN_LIST known)
      message(FATAL_ERROR "${caller}: COMPRESS ${coding}: vormesta-step was built without its "
                          "library (it compresses with: ${known}); install its -dev package and "
                          "build vormesta again, or leave ${coding} out")
    endif()
  endforeach()
endfunction()

# The words the step takes for a file's or a folder's embedding.
function(_vormesta_flags text align declare hidden etag codings flags_var)
  set(flags "")
  foreach(flag text declare hidden etag)
    if(${flag})
      list(APPEND flags ${flag})
    endif()
  endforeach()
  list(APPEND flags ${codings})
  if(align)
    list(APPEND flags "align=${align}")
  endif()
  list(JOIN flags " " flags)
  set(${flags_var} "${flags}" PARENT_SCOPE)
endfunction()

# A library's folder: its absolute path, and its path below the base (with a '/' after it,
# empty for the base itself).
function(_vormesta_library_folder base_dir directory folder_var prefix_var)
  get_filename_component(folder "${directory}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT IS_DIRECTORY "${folder}")
    message(FATAL_ERROR "vormesta_add_library: DIRECTORY ${folder} is no folder")
  endif()
  set(base "${CMAKE_CURRENT_SOURCE_DIR}")
  if(base_dir)
    get_filename_component(base "${base_dir}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  set(prefix "")
  if(NOT folder STREQUAL base)
    _vormesta_below("${base}" "${folder}" prefix)
    if(NOT prefix)
      message(FATAL_ERROR "vormesta_add_library: DIRECTORY ${folder} lies outside its base "
                          "${base}; name a folder that holds it with BASE_DIR")
    endif()
    string(APPEND prefix "/")
  endif()
  set(${folder_var} "${folder}" PARENT_SCOPE)
  set(${prefix_var} "${prefix}" PARENT_SCOPE)
endfunction()

# The settings' lines for a library's files listed by name and for its folder, with the options
# vormesta_add_library parsed (arg_*, seen from its scope).
function(_vormesta_library_inputs files relatives settings_var)
  set(settings "")
  # Files listed by name keep their declarations ("image.h" declares `image`); TEXT and ALIGN
  # for the library, or for a file by its source property VORMESTA_TEXT or VORMESTA_ALIGN.
  foreach(file relative IN ZIP_LISTS files relatives)
    get_source_file_property(text "${file}" VORMESTA_TEXT)
    get_source_file_property(align "${file}" VORMESTA_ALIGN)
    get_source_file_property(etag "${file}" VORMESTA_ETAG)
    get_source_file_property(codings "${file}" VORMESTA_COMPRESS)
    if(NOT text)
      set(text ${arg_TEXT})
    endif()
    if(NOT align)
      set(align ${arg_ALIGN})
    endif()
    if(NOT etag)
      set(etag ${arg_ETAG})
    endif()
    if(NOT codings)
      set(codings ${arg_COMPRESS})
    endif()
    _vormesta_check_codings(vormesta_add_library "${codings}")
    _vormesta_flags("${text}" "${align}" TRUE FALSE "${etag}" "${codings}" flags)
    string(APPEND settings "file\t${file}\t${relative}\t${flags}\n")
  endforeach()
  # A folder is walked by the step at every build: its files' names never pass through CMake.
  if(arg_DIRECTORY)
    _vormesta_library_folder("${arg_BASE_DIR}" "${arg_DIRECTORY}" folder prefix)
    _vormesta_flags("${arg_TEXT}" "${arg_ALIGN}" "${arg_DECLARE}" "${arg_HIDDEN}" "${arg_ETAG}"
                    "${arg_COMPRESS}" flags)
    string(APPEND settings "folder\t${folder}\t${prefix}\t${flags}\n")
    # A build folder inside the folder (cmake -B site/build) holds what the build makes, the
    # library's own outputs among them: the walk leaves it out.
    _vormesta_below("${folder}" "${CMAKE_BINARY_DIR}" build_inside)
    if(build_inside)
      message(STATUS "vormesta: library ${name} leaves out the build folder ${build_inside}/ "
                     "inside ${folder}")
      string(APPEND settings "skip\t${CMAKE_BINARY_DIR}\n")
    endif()
    foreach(pattern IN LISTS arg_PATTERNS)
      string(APPEND settings "pattern\t${pattern}\n")
    endforeach()
    foreach(pattern IN LISTS arg_EXCLUDE)
      string(APPEND settings "exclude\t${pattern}\n")
    endforeach()
  endif()
  set(${settings_var} "${settings}" PARENT_SCOPE)
endfunction()

# The targets of library `name`: the step that runs at every build, and the library programs
# link (its object and compiled index, or the index with the bytes compiled from C).
function(_vormesta_library_targets name)
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
                        "ROAD;LANGUAGE;ROOT;OBJECT;SOURCE;HEADER;DECLARATIONS;LIVE"
                        "HEADERS;FILES;STEP;STEP_DEPENDS")
  set(road "${arg_ROAD}")
  set(language "${arg_LANGUAGE}")
  set(root "${arg_ROOT}")
  set(object "${arg_OBJECT}")
  set(source "${arg_SOURCE}")
  set(header "${arg_HEADER}")
  set(declarations "${arg_DECLARATIONS}")
  set(headers "${arg_HEADERS}")
  set(files "${arg_FILES}")
  set(step "${arg_STEP}")
  set(step_depends "${arg_STEP_DEPENDS}")
  # Runs at every build: a walk and a look at the record, and outputs written again only when
  # what they are made of changed (so that nothing after it rebuilds for nothing). Listed files'
  # declarations are outputs too, so that Ninja looks at them again after the step and compiles
  # their callers in the same build when a size changed.
  set(outputs "${source}" "${header}" "${declarations}/vormesta/files.hpp")
  foreach(declared IN LISTS headers)
    list(APPEND outputs "${declarations}/${declared}")
  endforeach()
  if(road STREQUAL "object")
    list(APPEND outputs "${object}")
  endif()
  # On the terminal as it runs (Ninja's console pool), so that a long compression's progress is
  # seen while it lasts rather than when it ends.
  add_custom_target(${name}_vormesta
                    COMMAND ${step} library "${root}/settings"
                    BYPRODUCTS ${outputs}
                    DEPENDS ${files} ${step_depends}
                    COMMENT "vormesta: library ${name}" USES_TERMINAL VERBATIM)
  # The index is compiled: it holds paths and sizes, never the bytes.
  add_library(${name} STATIC "${source}")
  set(installed_object "")
  if(road STREQUAL "object")
    # The object reaches each program of this build as it is, with no copy into an archive; its
    # symbols are hidden, so a shared library that links it exports none. Installed, the
    # library's archive takes it in.
    target_link_libraries(${name} INTERFACE "$<BUILD_INTERFACE:${object}>")
    set(installed_object "${object}")
  endif()
  # Installed, a library's headers go beside the project's own.
  include(GNUInstallDirs)
  target_include_directories(${name} INTERFACE "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  _vormesta_install_with_library(${name} "${declarations}" "${installed_object}")
  add_dependencies(${name} ${name}_vormesta)
  # A shared library may link it.
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${name} PRIVATE "${declarations}")
  # The same index whatever the build folder.
  if(CMAKE_${language}_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC")
    if(CMAKE_${language}_COMPILER_ID STREQUAL "Clang")
      target_compile_options(${name} PRIVATE "/clang:-ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
    endif()
  elseif(CMAKE_${language}_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${name} PRIVATE "-ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
  endif()
  _vormesta_add_include_folder(${name} INTERFACE "${declarations}")
  get_property(http GLOBAL PROPERTY VORMESTA_INCLUDE_DIR)
  _vormesta_add_include_folder(${name} INTERFACE "${http}")
  if(arg_LIVE)
    # The index reads the folders where VORMESTA_LIVE is defined, and holds nothing of it
    # elsewhere; its lock is the threads library's (no C++ runtime).
    target_compile_definitions(${name} PRIVATE "$<$<BOOL:${arg_LIVE}>:VORMESTA_LIVE>")
    if(NOT WIN32)
      find_package(Threads REQUIRED)
      target_link_libraries(${name} PRIVATE "$<BUILD_INTERFACE:Threads::Threads>")
    endif()
    get_property(live GLOBAL PROPERTY VORMESTA_LIVE_LIBRARIES)
    if(NOT live)
      cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _vormesta_say_live)
    endif()
    set_property(GLOBAL APPEND PROPERTY VORMESTA_LIVE_LIBRARIES ${name})
  endif()
endfunction()

function(vormesta_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "STATIC;OBJECT;TEXT;HIDDEN;DECLARE;ETAG;LIVE"
                        "BASE_DIR;ALIGN;DIRECTORY" "PATTERNS;EXCLUDE;COMPRESS")
  _vormesta_check_codings(vormesta_add_library "${arg_COMPRESS}")
  if(TARGET ${name})
    message(FATAL_ERROR "vormesta_add_library: a target named '${name}' exists already")
  endif()
  # The library's symbols and functions come from its name as a C identifier: two libraries
  # whose names give one identifier would clash in a program.
  string(MAKE_C_IDENTIFIER "${name}" id)
  get_property(taken GLOBAL PROPERTY "VORMESTA_LIBRARY_ID ${id}")
  if(taken)
    message(FATAL_ERROR "vormesta_add_library: libraries '${taken}' and '${name}' both give "
                        "the functions ${id}_find, _count, _at and _below; rename one of them")
  endif()
  set_property(GLOBAL PROPERTY "VORMESTA_LIBRARY_ID ${id}" "${name}")
  _vormesta_call_folder(vormesta_library "${name}" root suffix)
  set(files "")
  set(relatives "")
  set(headers "")
  if(arg_UNPARSED_ARGUMENTS)
    _vormesta_place(vormesta_add_library "${name}" "${arg_BASE_DIR}" "${arg_UNPARSED_ARGUMENTS}"
                    files relatives headers arrays)
  endif()
  # Listed files' names are known now: their arrays are checked now (a folder's, by the step).
  foreach(file array IN ZIP_LISTS arg_UNPARSED_ARGUMENTS arrays)
    get_property(taken GLOBAL PROPERTY "VORMESTA_ARRAY ${name} ${array}")
    if(taken)
      message(FATAL_ERROR "vormesta_add_library: '${file}' and '${taken}' both give the array "
                          "${array} in ${name}; rename one of them")
    endif()
    set_property(GLOBAL PROPERTY "VORMESTA_ARRAY ${name} ${array}" "${file}")
  endforeach()
  _vormesta_library_road(language road probe)
  _vormesta_step(step step_depends)
  _vormesta_source_extension(${language} extension)
  set(declarations "${root}/include")
  set(object "${root}/${name}${CMAKE_${language}_OUTPUT_EXTENSION}")
  set(source "${root}/index/${name}.${extension}")
  set(header "${declarations}/vormesta/${name}.h")
  set(settings "vormesta-library 1\nname\t${name}\nsource\t${source}\nheader\t${header}\n")
  string(APPEND settings "declarations\t${declarations}\nrecord\t${root}/index/record\n")
  if(road STREQUAL "object")
    string(APPEND settings "probe\t${probe}\nobject\t${object}\n")
    # GNU ld for Windows exports every symbol of a DLL that marks none; told, it leaves the
    # arrays out. MSVC's link takes no such directive: only the build knows which it is.
    if(MINGW)
      string(APPEND settings "linker\tgnu-ld\n")
    endif()
  endif()
  _vormesta_library_inputs("${files}" "${relatives}" inputs)
  string(APPEND settings "${inputs}")
  # Live: LIVE, or VORMESTA_LIVE for every library (a generator expression such as
  # $<CONFIG:Debug> picks the configurations).
  set(live "")
  if(arg_LIVE)
    set(live 1)
  elseif(VORMESTA_LIVE)
    set(live "${VORMESTA_LIVE}")
  endif()
  if(live)
    string(APPEND settings "live\n")
  endif()
  _vormesta_write_if_changed("${root}/settings" "${settings}")
  file(MAKE_DIRECTORY "${declarations}/vormesta" "${root}/index")

  _vormesta_library_targets(${name} ROAD ${road} LANGUAGE ${language} ROOT "${root}"
                            OBJECT "${object}" SOURCE "${source}" HEADER "${header}"
                            DECLARATIONS "${declarations}" HEADERS ${headers} FILES ${files}
                            STEP ${step} STEP_DEPENDS ${step_depends} LIVE "${live}")
endfunction()

# Says once, at the end of configuring, which libraries read their folders at run time.
function(_vormesta_say_live)
  get_property(names GLOBAL PROPERTY VORMESTA_LIVE_LIBRARIES)
  list(JOIN names ", " names)
  message(STATUS "vormesta: live libraries, read from their folders at run time: ${names}")
endfunction()
