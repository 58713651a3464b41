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
# folder is embedded after it is made.
#
# The folder of headers reaches <target> (SCOPE PRIVATE, the default; INTERFACE for an INTERFACE
# library) or its users too (PUBLIC, INTERFACE), for #include "..." only where the compiler
# allows, so that features.json's features.h never hides <features.h>.
#
# VORMESTA_EXECUTABLE names a tool to run instead of the one this build provides.
include_guard(GLOBAL)

set(VORMESTA_EXECUTABLE "" CACHE FILEPATH "An existing vormesta to run instead of building one")
# Taken in as sources, a multi-config build embeds with one Release copy of the tool.
if(COMMAND _vormesta_build_host_tool)
  set_property(GLOBAL PROPERTY VORMESTA_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/..")
endif()

# The command that runs the tool, and what a header depends on for it: the same for every
# configuration, so that switching configurations embeds nothing again.
function(_vormesta_tool tool_var depends_var)
  get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  get_property(source_dir GLOBAL PROPERTY VORMESTA_SOURCE_DIR)
  if(multi_config AND source_dir AND NOT VORMESTA_EXECUTABLE)
    _vormesta_build_host_tool("${source_dir}")
  endif()
  get_property(host_tool GLOBAL PROPERTY VORMESTA_EMBED_TOOL)
  get_property(host_build GLOBAL PROPERTY VORMESTA_HOST_BUILD)
  if(VORMESTA_EXECUTABLE)
    set(${tool_var} "${VORMESTA_EXECUTABLE}" PARENT_SCOPE)
    set(${depends_var} "${VORMESTA_EXECUTABLE}" PARENT_SCOPE)
  elseif(host_tool)
    set(${tool_var} "${host_tool}" PARENT_SCOPE)
    set(${depends_var} "${host_tool}" ${host_build} PARENT_SCOPE)
  else()
    set(${tool_var} vormesta::vormesta PARENT_SCOPE)
    set(${depends_var} "$<TARGET_FILE:vormesta::vormesta>" PARENT_SCOPE)
  endif()
endfunction()

# The header's path for a relative input path: the extension is what follows the last dot of
# the last component, where that dot is not the first character of the whole path.
function(_vormesta_header_path relative out_var)
  string(FIND "${relative}" "/" last_slash REVERSE)
  string(FIND "${relative}" "." last_dot REVERSE)
  if(last_dot GREATER 0 AND last_dot GREATER last_slash)
    string(SUBSTRING "${relative}" 0 ${last_dot} relative)
  endif()
  set(${out_var} "${relative}.h" PARENT_SCOPE)
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

# Where the headers reach: -iquote keeps them from hiding system headers where the compiler
# has it; other compilers get an ordinary include folder.
function(_vormesta_add_include_folder target scope root)
  set(quote_only TRUE)
  foreach(lang C CXX)
    if(CMAKE_${lang}_COMPILER_LOADED AND (NOT CMAKE_${lang}_COMPILER_ID MATCHES
       "^(GNU|Clang|AppleClang)$" OR CMAKE_${lang}_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC"))
      set(quote_only FALSE)
    endif()
  endforeach()
  if(quote_only)
    target_compile_options(${target} ${scope} "-iquote${root}")
  else()
    target_include_directories(${target} ${scope} "${root}")
  endif()
endfunction()

# Stages each file under `root` and runs the tool on it there, the header's path taken below
# `base_dir` (relative to the calling folder) or the calling folders; `headers_var` gets the
# headers' paths below `root`.
# With `declarations` (a folder), each file's custom command also writes a declaration of its
# array with the bound into that folder, under the same relative path. `caller` names the
# function for messages.
function(_vormesta_embed_files caller target root base_dir files headers_var declarations)
  _vormesta_tool(tool tool_depends)
  string(MAKE_C_IDENTIFIER "${target}" target_id)
  set(base "")
  if(base_dir)
    get_filename_component(base "${base_dir}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  set(headers "")
  foreach(file IN LISTS files)
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
    _vormesta_header_path("${relative}" header)
    if(relative STREQUAL header)
      message(FATAL_ERROR "${caller}: '${file}' would be its own header ${header}; "
                          "give it another extension")
    endif()
    get_property(taken GLOBAL PROPERTY VORMESTA_EMBED_HEADER_${target_id}_${header})
    if(taken)
      message(FATAL_ERROR "${caller}: '${file}' and '${taken}' both give the header "
                          "${header} for ${target}; rename one of them")
    endif()
    set_property(GLOBAL PROPERTY VORMESTA_EMBED_HEADER_${target_id}_${header} "${file}")
    # A deferred call reads variables when it runs: hand it the values now.
    cmake_language(EVAL CODE
      "cmake_language(DEFER CALL _vormesta_check_exists [==[${source}]==] [==[${file}]==])")

    get_filename_component(staged_dir "${root}/${relative}" DIRECTORY)
    file(MAKE_DIRECTORY "${staged_dir}")
    # A file the build makes gets its folder now: not every generator makes it for the
    # command, nor every command for itself.
    get_filename_component(source_dir "${source}" DIRECTORY)
    _vormesta_below("${CMAKE_BINARY_DIR}" "${source_dir}" in_build)
    if(in_build)
      file(MAKE_DIRECTORY "${source_dir}")
    endif()
    set(declare "")
    set(declaration "")
    if(declarations)
      set(declaration "${declarations}/${header}")
      set(declare COMMAND "${CMAKE_COMMAND}" "-DHEADER=${root}/${header}"
                  "-DINPUT=${root}/${relative}" "-DOUTPUT=${declaration}"
                  -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VormestaDeclare.cmake")
    endif()
    add_custom_command(
      OUTPUT "${root}/${header}" ${declaration}
      BYPRODUCTS "${root}/${relative}"
      COMMAND "${CMAKE_COMMAND}" -E copy "${source}" "${root}/${relative}"
      COMMAND ${tool} "${relative}"
      ${declare}
      WORKING_DIRECTORY "${root}"
      DEPENDS "${source}" ${tool_depends}
      COMMENT "vormesta: embedding ${relative}"
      VERBATIM)
    list(APPEND headers "${header}")
  endforeach()
  set(${headers_var} "${headers}" PARENT_SCOPE)
endfunction()

# A folder of this folder's own for `target`: calls for one target may come from any folder, and
# custom commands only have rules for targets of the folder that adds them.
function(_vormesta_call_folder kind target root_var suffix_var)
  string(MAKE_C_IDENTIFIER "${target}" target_id)
  get_property(calls GLOBAL PROPERTY VORMESTA_EMBED_CALLS_${target_id})
  math(EXPR call "${calls} + 1")
  set_property(GLOBAL PROPERTY VORMESTA_EMBED_CALLS_${target_id} ${call})
  set(suffix "")
  if(call GREATER 1)
    set(suffix "_${call}")
  endif()
  set(${root_var} "${CMAKE_CURRENT_BINARY_DIR}/${kind}/${target_id}${suffix}" PARENT_SCOPE)
  set(${suffix_var} "${suffix}" PARENT_SCOPE)
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
  string(MAKE_C_IDENTIFIER "${target}" target_id)
  _vormesta_call_folder(vormesta_embed "${target}" root suffix)
  _vormesta_embed_files(vormesta_embed "${target}" "${root}" "${arg_BASE_DIR}"
                        "${arg_UNPARSED_ARGUMENTS}" headers "")
  list(TRANSFORM headers PREPEND "${root}/")
  add_custom_target(${target_id}_vormesta_embed${suffix} DEPENDS ${headers})
  add_dependencies(${target} ${target_id}_vormesta_embed${suffix})
  _vormesta_add_include_folder(${target} ${arg_SCOPE} "${root}")
endfunction()

# vormesta_add_library(<name> [STATIC|OBJECT] [BASE_DIR <dir>] <file>...)
#
# A library target <name> (static by default) holding each file's bytes, compiled once, one
# object per file. Callers link it and #include "<path>.h" (the same path and array name as
# vormesta_embed gives), which declares the array with its bound and C linkage, so that any
# number of C and C++ sources may include it and `sizeof` works. The tool's header itself is
# compiled in a source of its own and is not on any caller's include path. A change of a file's
# bytes recompiles its data object alone; callers are recompiled only when its size changes.
function(vormesta_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "STATIC;OBJECT" "BASE_DIR" "")
  if(TARGET ${name})
    message(FATAL_ERROR "vormesta_add_library: a target named '${name}' exists already")
  endif()
  set(kind STATIC)
  if(arg_OBJECT)
    set(kind OBJECT)
  endif()
  _vormesta_call_folder(vormesta_library "${name}" root suffix)
  set(declarations "${root}/include")
  _vormesta_embed_files(vormesta_add_library "${name}" "${root}/data" "${arg_BASE_DIR}"
                        "${arg_UNPARSED_ARGUMENTS}" headers "${declarations}")
  # C where the project has it, C++ otherwise: the same text compiles as either.
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  set(extension cpp)
  if("C" IN_LIST languages)
    set(extension c)
  endif()
  set(sources "")
  foreach(header IN LISTS headers)
    # The declaration first: a bound that disagrees with the data does not compile.
    set(source "${root}/sources/${header}.${extension}")
    file(CONFIGURE OUTPUT "${source}" CONTENT
         "#include \"${declarations}/${header}\"\n#include \"${root}/data/${header}\"\n")
    list(APPEND sources "${source}" "${root}/data/${header}" "${declarations}/${header}")
  endforeach()
  add_library(${name} ${kind} ${sources})
  file(MAKE_DIRECTORY "${declarations}")
  _vormesta_add_include_folder(${name} INTERFACE "${declarations}")
endfunction()
