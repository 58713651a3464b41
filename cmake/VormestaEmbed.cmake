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
  if(arg_BASE_DIR)
    get_filename_component(base "${arg_BASE_DIR}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()

  if(VORMESTA_EXECUTABLE)
    set(tool "${VORMESTA_EXECUTABLE}")
    set(tool_depends "${VORMESTA_EXECUTABLE}")
  else()
    get_property(host_build GLOBAL PROPERTY VORMESTA_HOST_BUILD)
    set(tool vormesta::vormesta)
    set(tool_depends "$<TARGET_FILE:vormesta::vormesta>" ${host_build})
  endif()

  # One folder and one custom target per call: the target may live in any folder, and custom
  # commands only have rules for targets of the folder that adds them.
  string(MAKE_C_IDENTIFIER "${target}" target_id)
  get_property(calls GLOBAL PROPERTY VORMESTA_EMBED_CALLS_${target_id})
  math(EXPR call "${calls} + 1")
  set_property(GLOBAL PROPERTY VORMESTA_EMBED_CALLS_${target_id} ${call})
  set(root "${CMAKE_CURRENT_BINARY_DIR}/vormesta_embed/${target_id}")
  if(call GREATER 1)
    string(APPEND root "_${call}")
  endif()

  set(headers "")
  foreach(file IN LISTS arg_UNPARSED_ARGUMENTS)
    get_filename_component(source "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(arg_BASE_DIR)
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
      if(NOT arg_BASE_DIR)
        set(base "${CMAKE_CURRENT_SOURCE_DIR} (or ${CMAKE_CURRENT_BINARY_DIR})")
      endif()
      message(FATAL_ERROR "vormesta_embed: '${file}' lies outside its base ${base}; name a "
                          "folder that holds it with BASE_DIR")
    endif()
    _vormesta_header_path("${relative}" header)
    if(relative STREQUAL header)
      message(FATAL_ERROR "vormesta_embed: '${file}' would be its own header ${header}; "
                          "give it another extension")
    endif()
    get_property(taken GLOBAL PROPERTY VORMESTA_EMBED_HEADER_${target_id}_${header})
    if(taken)
      message(FATAL_ERROR "vormesta_embed: '${file}' and '${taken}' both give the header "
                          "${header} for ${target}; rename one of them")
    endif()
    set_property(GLOBAL PROPERTY VORMESTA_EMBED_HEADER_${target_id}_${header} "${file}")
    # A deferred call reads variables when it runs: hand it the values now.
    cmake_language(EVAL CODE
      "cmake_language(DEFER CALL _vormesta_check_exists [==[${source}]==] [==[${file}]==])")

    get_filename_component(staged_dir "${root}/${relative}" DIRECTORY)
    file(MAKE_DIRECTORY "${staged_dir}")
    add_custom_command(
      OUTPUT "${root}/${header}"
      BYPRODUCTS "${root}/${relative}"
      COMMAND "${CMAKE_COMMAND}" -E copy "${source}" "${root}/${relative}"
      COMMAND ${tool} "${relative}"
      WORKING_DIRECTORY "${root}"
      DEPENDS "${source}" ${tool_depends}
      COMMENT "vormesta: embedding ${relative}"
      VERBATIM)
    list(APPEND headers "${root}/${header}")
  endforeach()

  set(embed_target "${target_id}_vormesta_embed")
  if(call GREATER 1)
    string(APPEND embed_target "_${call}")
  endif()
  add_custom_target(${embed_target} DEPENDS ${headers})
  add_dependencies(${target} ${embed_target})
  _vormesta_add_include_folder(${target} ${arg_SCOPE} "${root}")
endfunction()
