# What the build languages state beside the step's C++ states alike: the sources each build of
# the step compiles (CMake, Meson, Bazel), the content codings (the step and CMake's check),
# and the first line of a library's settings (the step and vormesta_add_library).
set(wrong "")

# The sources: src/*.cpp but the programs' own and the platform files, in each build.
file(GLOB core RELATIVE "${ROOT}" "${ROOT}/src/*.cpp")
list(FILTER core EXCLUDE REGEX "src/(driver|step|platform_[a-z]+)\\.cpp$")
list(SORT core)
# The sources named from `start` to the first `end` after it in `file`.
function(sources_in file start end out)
  file(READ "${ROOT}/${file}" text)
  string(FIND "${text}" "${start}" at)
  string(SUBSTRING "${text}" ${at} -1 text)
  string(FIND "${text}" "${end}" length)
  string(SUBSTRING "${text}" 0 ${length} block)
  string(REGEX MATCHALL "src/[a-z0-9_]+\\.cpp" found "${block}")
  list(FILTER found EXCLUDE REGEX "src/platform_[a-z]+\\.cpp$")
  list(SORT found)
  set(${out} "${found}" PARENT_SCOPE)
endfunction()
sources_in(CMakeLists.txt "add_library(vormesta_core STATIC" ")" cmake)
sources_in(meson.build "sources = files(" ")" meson)
sources_in(BUILD.bazel "name = \"vormesta_core\"" "select(" bazel)
foreach(build IN ITEMS cmake meson bazel)
  if(NOT "${${build}}" STREQUAL "${core}")
    string(APPEND wrong "\n  ${build} compiles ${${build}}\n    the sources are ${core}")
  endif()
endforeach()

# The codings: as the step names them, and as CMake checks COMPRESS.
file(READ "${ROOT}/src/compress.cpp" text)
string(REGEX MATCH "names\\[\\] = {([^}]*)}" names "${text}")
string(REGEX MATCHALL "\"[a-z]+\"" step_codings "${CMAKE_MATCH_1}")
string(REPLACE "\"" "" step_codings "${step_codings}")
file(READ "${ROOT}/cmake/VormestaEmbed.cmake" text)
string(REGEX MATCH "coding MATCHES \"\\^\\(([a-z|]+)\\)\\$\"" check "${text}")
string(REPLACE "|" ";" cmake_codings "${CMAKE_MATCH_1}")
if(NOT step_codings OR NOT "${step_codings}" STREQUAL "${cmake_codings}")
  string(APPEND wrong "\n  the step's codings are '${step_codings}', CMake checks '${cmake_codings}'")
endif()

# The settings' first line.
file(READ "${ROOT}/src/library_build.cpp" text)
string(REGEX MATCH "settings_first_line\\[\\] = \"([^\"]+)\"" line "${text}")
set(step_line "${CMAKE_MATCH_1}")
file(READ "${ROOT}/cmake/VormestaEmbed.cmake" text)
string(REGEX MATCH "set\\(settings \"([^\\]+)\\\\n" line "${text}")
if(NOT step_line OR NOT step_line STREQUAL CMAKE_MATCH_1)
  string(APPEND wrong "\n  the step reads settings as '${step_line}', CMake writes '${CMAKE_MATCH_1}'")
endif()

if(wrong)
  message(FATAL_ERROR "the build languages and the step disagree:${wrong}")
endif()
