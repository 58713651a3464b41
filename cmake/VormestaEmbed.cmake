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
# vormesta_add_library(<name> [STATIC|OBJECT] [BASE_DIR <dir>] <file>...)
#
# A library target <name> (static by default) holding each file's bytes, one object per file.
# Callers link it and #include "<path>.h" (the same paths and array names as vormesta_embed),
# which declares the array with its bound and C linkage, so that any number of C and C++ sources
# may include it and `sizeof` works. With GCC and Clang the assembler reads each file into its
# object (.incbin), and no compiler parses its bytes; with a compiler that has #embed, #embed
# does; elsewhere (MSVC) the tool's header is compiled once. VORMESTA_LIBRARY_ROAD chooses
# otherwise. A change of a file's bytes rebuilds its object alone; callers are recompiled only
# when its size changes.
#
# VORMESTA_EXECUTABLE names a tool to run instead of the one this build provides.
include_guard(GLOBAL)

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
function(_vormesta_check_exists source file)
  get_source_file_property(generated "${source}" GENERATED)
  if(NOT EXISTS "${source}" AND NOT generated)
    message(FATAL_ERROR "vormesta_embed: '${file}' (${source}) does not exist, and no "
                        "add_custom_command in ${CMAKE_CURRENT_SOURCE_DIR} makes it")
  endif()
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
  if(quote_only)
    target_compile_options(${target} ${scope} "$<$<COMPILE_LANGUAGE:C,CXX>:-iquote${root}>")
  else()
    target_include_directories(${target} ${scope} "${root}")
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
      "cmake_language(DEFER CALL _vormesta_check_exists [==[${source}]==] [==[${file}]==])")
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
  if(CMAKE_${language}_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC" OR MSVC)
    set(no_lto /GL-)
  elseif(CMAKE_${language}_COMPILER_ID MATCHES "GNU|Clang")
    set(no_lto -fno-lto)
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

# Declarations written while configuring, so that editors find them before the first build; the
# build rewrites one only when its size changes. One run for the text files, one for the rest.
function(_vormesta_declare_now files relatives declarations texts)
  _vormesta_step_now(step)
  set(bytes_arguments "")
  set(text_arguments "")
  foreach(file relative declaration text IN ZIP_LISTS files relatives declarations texts)
    if(EXISTS "${file}" AND NOT EXISTS "${declaration}")
      if(text)
        list(APPEND text_arguments "${file}" "${relative}" "${declaration}")
      else()
        list(APPEND bytes_arguments "${file}" "${relative}" "${declaration}")
      endif()
    endif()
  endforeach()
  if(bytes_arguments)
    execute_process(COMMAND "${step}" declare ${bytes_arguments} ERROR_VARIABLE printed)
  endif()
  if(text_arguments)
    execute_process(COMMAND "${step}" declare --text ${text_arguments} ERROR_VARIABLE printed)
  endif()
endfunction()

# The files of DIRECTORY that PATTERNS pick (all by default) and EXCLUDE leaves out, found again
# at every build: a file added or removed configures again by itself.
function(_vormesta_directory_files directory patterns excludes files_var)
  get_filename_component(directory "${directory}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT IS_DIRECTORY "${directory}")
    message(FATAL_ERROR "vormesta_add_library: DIRECTORY ${directory} is no folder")
  endif()
  if(NOT patterns)
    set(patterns "*")
  endif()
  set(files "")
  foreach(pattern IN LISTS patterns)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS LIST_DIRECTORIES false "${directory}/${pattern}")
    list(APPEND files ${found})
  endforeach()
  foreach(pattern IN LISTS excludes)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS LIST_DIRECTORIES false "${directory}/${pattern}")
    if(found)
      list(REMOVE_ITEM files ${found})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES files)
  set(${files_var} "${files}" PARENT_SCOPE)
endfunction()

# The library's index: "vormesta/<name>.h" declares <name>_find, _count and _at (and, for C++,
# <name>_files), and a source of the table, sorted by path, with each array's size. The step
# writes them while configuring, for editors, and again in the build whenever a file changes;
# what comes out the same is left as it was, so the table compiles again only when a size or
# the set of files changes. Returns the source and the step's stamp.
function(_vormesta_index name root language files relatives texts declarations index_var
         stamp_var)
  set(list_text "")
  foreach(file relative text IN ZIP_LISTS files relatives texts)
    set(kind bytes)
    if(text)
      set(kind text)
    endif()
    string(APPEND list_text "${file}\t${relative}\t${kind}\n")
  endforeach()
  file(CONFIGURE OUTPUT "${root}/index/files.txt" CONTENT "${list_text}" @ONLY)
  _vormesta_source_extension(${language} extension)
  set(source "${root}/index/${name}.${extension}")
  set(header "${declarations}/vormesta/${name}.h")
  file(MAKE_DIRECTORY "${declarations}/vormesta")
  _vormesta_step_now(step_now)
  # Files the build makes are not there yet: the build writes the index then.
  execute_process(COMMAND "${step_now}" index "${name}" "${root}/index/files.txt" "${source}"
                          "${header}" RESULT_VARIABLE failed ERROR_VARIABLE message)
  _vormesta_step(step step_depends)
  set(stamp "${root}/index/stamp")
  add_custom_command(OUTPUT "${stamp}"
                     BYPRODUCTS "${source}" "${header}" "${declarations}/vormesta/files.hpp"
                     COMMAND ${step} index "${name}" "${root}/index/files.txt" "${source}" "${header}"
                     COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
                     DEPENDS "${root}/index/files.txt" ${files} ${step_depends}
                     COMMENT "vormesta: indexing ${name}" VERBATIM)
  set(${index_var} "${source}" PARENT_SCOPE)
  set(${stamp_var} "${stamp}" PARENT_SCOPE)
endfunction()

function(vormesta_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "STATIC;OBJECT;TEXT" "BASE_DIR;ALIGN;DIRECTORY"
                        "PATTERNS;EXCLUDE")
  if(TARGET ${name})
    message(FATAL_ERROR "vormesta_add_library: a target named '${name}' exists already")
  endif()
  set(listed ${arg_UNPARSED_ARGUMENTS})
  if(arg_DIRECTORY)
    _vormesta_directory_files("${arg_DIRECTORY}" "${arg_PATTERNS}" "${arg_EXCLUDE}" found)
    list(APPEND listed ${found})
  endif()
  _vormesta_call_folder(vormesta_library "${name}" root suffix)
  _vormesta_place(vormesta_add_library "${name}" "${arg_BASE_DIR}" "${listed}"
                  files relatives headers arrays)
  foreach(file array IN ZIP_LISTS listed arrays)
    get_property(taken GLOBAL PROPERTY "VORMESTA_ARRAY ${name} ${array}")
    if(taken)
      message(FATAL_ERROR "vormesta_add_library: '${file}' and '${taken}' both give the array "
                          "${array} in ${name}; rename one of them")
    endif()
    set_property(GLOBAL PROPERTY "VORMESTA_ARRAY ${name} ${array}" "${file}")
  endforeach()

  _vormesta_library_road(language road probe)
  _vormesta_step(step step_depends)
  set(declarations "${root}/include")
  set(declared "")
  set(outputs "")
  set(sources "")
  set(texts "")
  foreach(file relative header IN ZIP_LISTS files relatives headers)
    # TEXT and ALIGN for the library, or for a file by its source property VORMESTA_TEXT or
    # VORMESTA_ALIGN.
    get_source_file_property(text "${file}" VORMESTA_TEXT)
    get_source_file_property(align "${file}" VORMESTA_ALIGN)
    if(NOT text)
      set(text ${arg_TEXT})
    endif()
    if(NOT align)
      set(align ${arg_ALIGN})
    endif()
    set(options "")
    if(text AND road STREQUAL "object")
      list(APPEND options --text)
    else()
      set(text FALSE)
    endif()
    if(align)
      list(APPEND options --align ${align})
    endif()
    list(APPEND texts ${text})
    set(declaration "${declarations}/${header}")
    get_filename_component(folder "${declaration}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    list(APPEND declared "${declaration}")
    if(road STREQUAL "object")
      # The step writes the object itself: no compiler, cache or distributed build sees the data.
      set(object "${root}/objects/${relative}${CMAKE_${language}_OUTPUT_EXTENSION}")
      get_filename_component(folder "${object}" DIRECTORY)
      file(MAKE_DIRECTORY "${folder}")
      add_custom_command(OUTPUT "${object}" BYPRODUCTS "${declaration}"
                         COMMAND ${step} object ${options} "${probe}" "${file}" "${relative}"
                                 "${object}" "${declaration}"
                         DEPENDS "${file}" "${probe}" ${step_depends}
                         COMMENT "vormesta: embedding ${relative}" VERBATIM)
      list(APPEND outputs "${object}")
    else()
      # The tool's header compiled once, after the declaration: a bound that disagrees with the
      # data does not compile. (No NUL and no alignment of its own here.)
      set(data "${root}/data/${header}")
      _vormesta_source_extension(${language} extension)
      set(source "${root}/sources/${header}.${extension}")
      _vormesta_embed_command("${root}/data" "${file}" "${relative}" "${header}")
      add_custom_command(OUTPUT "${data}" APPEND
                         COMMAND ${step} declare "${file}" "${relative}" "${declaration}")
      file(CONFIGURE OUTPUT "${source}" CONTENT "#include \"@declaration@\"\n#include \"@data@\"\n"
           @ONLY)
      set_source_files_properties("${source}" PROPERTIES OBJECT_DEPENDS "${data}")
      list(APPEND outputs "${data}")
      list(APPEND sources "${source}")
    endif()
  endforeach()
  _vormesta_forget_dropped("${declarations}" "${headers}")
  _vormesta_declare_now("${files}" "${relatives}" "${declared}" "${texts}")
  _vormesta_index("${name}" "${root}" "${language}" "${files}" "${relatives}" "${texts}"
                  "${declarations}" index stamp)
  if(road STREQUAL "object")
    # The objects reach each program as they are, with no copy into an archive; their symbols
    # are hidden, so a shared library that links them exports none. The index is compiled: it
    # holds paths and sizes, never the bytes.
    add_custom_target(${name}_objects DEPENDS ${outputs} "${stamp}")
    add_library(${name}_index STATIC "${index}")
    add_dependencies(${name}_index ${name}_objects)
    add_library(${name} INTERFACE)
    add_dependencies(${name} ${name}_objects)
    target_link_libraries(${name} INTERFACE ${outputs} ${name}_index)
    set(compiled ${name}_index)
  else()
    add_library(${name} STATIC ${sources} "${index}" "${stamp}")
    set(compiled ${name})
  endif()
  target_include_directories(${compiled} PRIVATE "${declarations}")
  # The same index whatever the build folder.
  if(CMAKE_${language}_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${compiled} PRIVATE "-ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
  endif()
  _vormesta_add_include_folder(${name} INTERFACE "${declarations}")
endfunction()
