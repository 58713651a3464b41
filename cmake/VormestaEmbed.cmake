# vormesta_embed(<target> <file>...)
#
# Compiles files into <target> as headers. Each file, named relative to the calling folder,
# becomes a header at the same relative path with its extension replaced by ".h", inside the
# build tree: icons/app.png gives #include "icons/app.h" and the array icons_app. The tool
# writes beside its input, so the input is staged as a copy under the build folder and the tool
# runs there on the relative path. The header is made again when the file (or the tool)
# changes, and only then.
include_guard(GLOBAL)

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

function(vormesta_embed target)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "vormesta_embed: no target named '${target}'")
  endif()
  set(root "${CMAKE_CURRENT_BINARY_DIR}/vormesta_embed/${target}")
  set(headers "")
  foreach(file IN LISTS ARGN)
    get_filename_component(source "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    file(RELATIVE_PATH relative "${CMAKE_CURRENT_SOURCE_DIR}" "${source}")
    if(relative MATCHES "^\\.\\./" OR IS_ABSOLUTE "${relative}")
      message(FATAL_ERROR "vormesta_embed: '${file}' lies outside ${CMAKE_CURRENT_SOURCE_DIR}; "
                          "call vormesta_embed from a folder that holds it")
    endif()
    _vormesta_header_path("${relative}" header)
    get_filename_component(staged_dir "${root}/${relative}" DIRECTORY)
    file(MAKE_DIRECTORY "${staged_dir}")
    add_custom_command(
      OUTPUT "${root}/${header}"
      BYPRODUCTS "${root}/${relative}"
      COMMAND "${CMAKE_COMMAND}" -E copy "${source}" "${root}/${relative}"
      COMMAND vormesta::vormesta "${relative}"
      WORKING_DIRECTORY "${root}"
      DEPENDS "${source}" "$<TARGET_FILE:vormesta::vormesta>"
      COMMENT "vormesta: embedding ${relative}"
      VERBATIM)
    list(APPEND headers "${root}/${header}")
  endforeach()
  target_sources(${target} PRIVATE ${headers})
  target_include_directories(${target} PRIVATE "${root}")
endfunction()
