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
    "How vormesta_add_library puts bytes into objects: auto, assembler, embed or header")
set_property(CACHE VORMESTA_LIBRARY_ROAD PROPERTY STRINGS auto assembler embed header)
# Taken in as sources: a tool for the build machine can be built while configuring.
if(COMMAND _vormesta_build_host_tool)
  set_property(GLOBAL PROPERTY VORMESTA_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/..")
endif()

# The command that runs the tool, and what a header depends on for it: the same for every
# configuration, so that switching configurations embeds nothing again.
function(_vormesta_tool tool_var depends_var)
  get_property(host_tool GLOBAL PROPERTY VORMESTA_EMBED_TOOL)
  if(VORMESTA_EXECUTABLE)
    set(tool "${VORMESTA_EXECUTABLE}")
  elseif(host_tool)
    set(tool "${host_tool}")
  else()
    set(${tool_var} vormesta::vormesta PARENT_SCOPE)
    set(${depends_var} "$<TARGET_FILE:vormesta::vormesta>" PARENT_SCOPE)
    return()
  endif()
  set(${tool_var} "${tool}" PARENT_SCOPE)
  set(${depends_var} "${tool}" PARENT_SCOPE)
endfunction()

# A tool that runs while configuring: the one given, the installed one, or one built now.
function(_vormesta_tool_now tool_var)
  get_property(host_tool GLOBAL PROPERTY VORMESTA_EMBED_TOOL)
  set(imported FALSE)
  if(TARGET vormesta::vormesta)
    get_target_property(imported vormesta::vormesta IMPORTED)
  endif()
  if(VORMESTA_EXECUTABLE)
    set(tool "${VORMESTA_EXECUTABLE}")
  elseif(host_tool)
    set(tool "${host_tool}")
  elseif(imported)
    get_target_property(tool vormesta::vormesta LOCATION)
  else()
    get_property(source_dir GLOBAL PROPERTY VORMESTA_SOURCE_DIR)
    _vormesta_build_host_tool("${source_dir}")
    get_property(tool GLOBAL PROPERTY VORMESTA_EMBED_TOOL)
  endif()
  if(NOT tool)
    message(FATAL_ERROR "vormesta_add_library: no vormesta runs while configuring, to name the "
                        "arrays; name one with -DVORMESTA_EXECUTABLE=...")
  endif()
  set(${tool_var} "${tool}" PARENT_SCOPE)
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

# Each file's absolute path (`sources_var`) and its path below `base_dir` (relative to the
# calling folder) or the calling folders (`relatives_var`); refuses a file that lies outside its
# base or gives a header another file of `target` gives.
function(_vormesta_place caller target base_dir files sources_var relatives_var)
  set(base "")
  if(base_dir)
    get_filename_component(base "${base_dir}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  set(sources "")
  set(relatives "")
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
    list(APPEND sources "${source}")
    list(APPEND relatives "${relative}")
  endforeach()
  set(${sources_var} "${sources}" PARENT_SCOPE)
  set(${relatives_var} "${relatives}" PARENT_SCOPE)
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

# A custom command that stages a copy of `source` under `root` and runs the tool there on
# `relative`, the header going to `root` too; `more` runs after the tool (COMMAND ...) and makes
# `outputs` and `byproducts`.
function(_vormesta_tool_command root source relative more outputs byproducts)
  _vormesta_tool(tool tool_depends)
  _vormesta_header_path("${relative}" header)
  get_filename_component(staged_dir "${root}/${relative}" DIRECTORY)
  file(MAKE_DIRECTORY "${staged_dir}")
  add_custom_command(
    OUTPUT "${root}/${header}" ${outputs}
    BYPRODUCTS "${root}/${relative}" ${byproducts}
    COMMAND "${CMAKE_COMMAND}" -E copy "${source}" "${root}/${relative}"
    COMMAND ${tool} "${relative}"
    ${more}
    WORKING_DIRECTORY "${root}"
    DEPENDS "${source}" ${tool_depends}
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
                  sources relatives)
  set(headers "")
  foreach(source relative IN ZIP_LISTS sources relatives)
    _vormesta_tool_command("${root}" "${source}" "${relative}" "" "" "")
    _vormesta_header_path("${relative}" header)
    list(APPEND headers "${header}")
  endforeach()
  _vormesta_forget_dropped("${root}" "${headers}")
  list(TRANSFORM headers PREPEND "${root}/")
  add_custom_target(${target}_vormesta_embed${suffix} DEPENDS ${headers})
  add_dependencies(${target} ${target}_vormesta_embed${suffix})
  _vormesta_add_include_folder(${target} ${arg_SCOPE} "${root}")
endfunction()

# The array names the tool gives `relatives`, asked of it while configuring: a name depends on
# the path alone, so the tool runs on empty files laid out at those paths under `scratch`.
function(_vormesta_array_names scratch relatives names_var)
  _vormesta_tool_now(tool)
  file(REMOVE_RECURSE "${scratch}")
  set(commands "")
  foreach(relative IN LISTS relatives)
    file(WRITE "${scratch}/${relative}" "")
    list(APPEND commands COMMAND "${tool}" "${relative}")
  endforeach()
  # One pipeline: the runs go side by side.
  execute_process(${commands} WORKING_DIRECTORY "${scratch}" RESULTS_VARIABLE results
                  OUTPUT_VARIABLE printed)
  set(names "")
  foreach(relative result IN ZIP_LISTS relatives results)
    _vormesta_header_path("${relative}" header)
    set(line "")
    if(result EQUAL 0)
      file(STRINGS "${scratch}/${header}" line LIMIT_COUNT 1)
    endif()
    if(NOT line MATCHES "^const unsigned char ([A-Za-z0-9_]+)\\[\\] = {")
      message(FATAL_ERROR "vormesta: ${tool} could not name the array of '${relative}' "
                          "(status ${result}) ${printed}")
    endif()
    list(APPEND names "${CMAKE_MATCH_1}")
  endforeach()
  file(REMOVE_RECURSE "${scratch}")
  set(${names_var} "${names}" PARENT_SCOPE)
endfunction()

# How the library's objects get the bytes (`road_var`), compiled as C where the calling folder
# has it, C++ otherwise (`language_var`).
function(_vormesta_library_road language_var road_var)
  set(language CXX)
  if(CMAKE_C_COMPILER_LOADED)
    set(language C)
  endif()
  set(road "${VORMESTA_LIBRARY_ROAD}")
  if(road STREQUAL "auto")
    if(CMAKE_${language}_COMPILER_ID MATCHES "^(GNU|Clang|AppleClang)$" AND
       NOT CMAKE_${language}_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC")
      set(road assembler)
    else()
      include(CheckSourceCompiles)
      check_source_compiles(${language} "#ifndef __has_embed\n#error\n#endif\nint main(void) { return 0; }"
                            VORMESTA_${language}_HAS_EMBED)
      set(road header)
      if(VORMESTA_${language}_HAS_EMBED)
        set(road embed)
      endif()
    endif()
  elseif(NOT road MATCHES "^(assembler|embed|header)$")
    message(FATAL_ERROR "vormesta_add_library: VORMESTA_LIBRARY_ROAD is auto, assembler, embed "
                        "or header, not '${road}'")
  endif()
  set(${language_var} ${language} PARENT_SCOPE)
  set(${road_var} ${road} PARENT_SCOPE)
endfunction()

# The command that writes a file's data source and declaration (VormestaDeclare.cmake).
function(_vormesta_declare_command command_var road name input source declaration header)
  string(MD5 guard "${declaration}")
  string(SUBSTRING "${guard}" 0 12 guard)
  get_filename_component(file_name "${declaration}" NAME)
  string(MAKE_C_IDENTIFIER "VORMESTA_${file_name}_${guard}" guard)
  set(${command_var} COMMAND "${CMAKE_COMMAND}" -DROAD=${road} -DNAME=${name} "-DINPUT=${input}"
      "-DSOURCE=${source}" "-DDECLARATION=${declaration}" -DGUARD=${guard} "-DHEADER=${header}"
      -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VormestaDeclare.cmake" PARENT_SCOPE)
endfunction()

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
  _vormesta_place(vormesta_add_library "${name}" "${arg_BASE_DIR}" "${arg_UNPARSED_ARGUMENTS}"
                  files relatives)
  _vormesta_array_names("${root}/names" "${relatives}" names)
  foreach(file array IN ZIP_LISTS arg_UNPARSED_ARGUMENTS names)
    get_property(taken GLOBAL PROPERTY "VORMESTA_ARRAY ${name} ${array}")
    if(taken)
      message(FATAL_ERROR "vormesta_add_library: '${file}' and '${taken}' both give the array "
                          "${array} in ${name}; rename one of them")
    endif()
    set_property(GLOBAL PROPERTY "VORMESTA_ARRAY ${name} ${array}" "${file}")
  endforeach()

  _vormesta_library_road(language road)
  set(extension cpp)
  if(language STREQUAL "C")
    set(extension c)
  endif()
  set(declarations "${root}/include")
  set(sources "")
  set(headers "")
  foreach(file relative array IN ZIP_LISTS files relatives names)
    _vormesta_header_path("${relative}" header)
    set(source "${root}/sources/${header}.${extension}")
    set(declaration "${declarations}/${header}")
    _vormesta_declare_command(declare ${road} "${array}" "${file}" "${source}" "${declaration}"
                              "${root}/data/${header}")
    # The declaration is rewritten only when the size changes: callers compile again then
    # alone. The source is written each time, so that its object is made again.
    if(road STREQUAL "header")
      _vormesta_tool_command("${root}/data" "${file}" "${relative}" "${declare}" "${source}"
                             "${declaration}")
      list(APPEND sources "${root}/data/${header}")
    else()
      add_custom_command(OUTPUT "${source}" BYPRODUCTS "${declaration}" ${declare}
                         DEPENDS "${file}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VormestaDeclare.cmake"
                         COMMENT "vormesta: declaring ${relative}" VERBATIM)
    endif()
    list(APPEND sources "${source}" "${declaration}")
    list(APPEND headers "${header}")
  endforeach()
  _vormesta_forget_dropped("${declarations}" "${headers}")
  add_library(${name} ${kind} ${sources})
  file(MAKE_DIRECTORY "${declarations}")
  _vormesta_add_include_folder(${name} INTERFACE "${declarations}")
endfunction()
