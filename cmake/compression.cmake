# The compression libraries the library step links, statically, so that the step stays one
# program with nothing to install beside it: zlib (gzip), brotli (br) and zstd. One that is not
# found leaves its coding out of the step, which refuses it by name (vormesta_add_library asks
# the step while configuring).
include_guard(GLOBAL)

option(VORMESTA_COMPRESSION "Link zlib, brotli and zstd into vormesta-step where found" ON)

# Finds `library` (static first) and `header`; defines `definition` on `target` where both are.
function(_vormesta_link_compression target coding definition header)
  set(names ${ARGN})
  set(static_names ${names})
  list(TRANSFORM static_names PREPEND "lib")
  list(TRANSFORM static_names APPEND ".a")
  set(libraries "")
  foreach(static name IN ZIP_LISTS static_names names)
    find_library(VORMESTA_LIBRARY_${name} NAMES ${static} ${name})
    if(NOT VORMESTA_LIBRARY_${name})
      message(NOTICE "vormesta: no ${name} library here: vormesta-step writes no ${coding}")
      return()
    endif()
    list(APPEND libraries "${VORMESTA_LIBRARY_${name}}")
  endforeach()
  find_path(VORMESTA_INCLUDE_${coding} ${header})
  if(NOT VORMESTA_INCLUDE_${coding})
    message(NOTICE "vormesta: no ${header} here: vormesta-step writes no ${coding}")
    return()
  endif()
  target_include_directories(${target} PRIVATE "${VORMESTA_INCLUDE_${coding}}")
  target_link_libraries(${target} PRIVATE ${libraries})
  target_compile_definitions(${target} PRIVATE ${definition})
  set_property(GLOBAL APPEND PROPERTY VORMESTA_STEP_CODINGS ${coding})
endfunction()

# zlib as CMake finds it, its static library first.
function(_vormesta_link_zlib target)
  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB QUIET)
  if(NOT ZLIB_FOUND)
    message(NOTICE "vormesta: no zlib here: vormesta-step writes no gzip")
    return()
  endif()
  target_link_libraries(${target} PRIVATE ZLIB::ZLIB)
  target_compile_definitions(${target} PRIVATE VORMESTA_HAS_ZLIB)
  set_property(GLOBAL APPEND PROPERTY VORMESTA_STEP_CODINGS gzip)
endfunction()

function(vormesta_compression target)
  if(NOT VORMESTA_COMPRESSION)
    return()
  endif()
  if(CMAKE_VERSION VERSION_LESS 3.24) # whose FindZLIB takes the shared library first
    _vormesta_link_compression(${target} gzip VORMESTA_HAS_ZLIB zlib.h z)
  else()
    _vormesta_link_zlib(${target})
  endif()
  # brotli and zstd by their archives' names: pkg-config's imported targets link the shared
  # libraries, and the MinGW-w64 prefix .ci/mingw-codings fills has no .pc files. The encoder
  # before the common part it uses, for a static link.
  _vormesta_link_compression(${target} br VORMESTA_HAS_BROTLI brotli/encode.h brotlienc
                             brotlicommon)
  _vormesta_link_compression(${target} zstd VORMESTA_HAS_ZSTD zstd.h zstd)
endfunction()
