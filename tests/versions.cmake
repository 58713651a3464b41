# Every place that states the project's version states VERSION (CMake's own): the manual pages,
# Meson's and Bazel's projects, and each find_package(vormesta) of the README, docs/ and the
# examples.
# The tool's banner ("vormesta v0.1 by ulmvar") is a fixed text, not a version.
set(places
    docs/vormesta.1 "\"vormesta ([0-9.]+)\""
    docs/vormesta-step.1 "\"vormesta ([0-9.]+)\""
    meson.build "version: '([0-9.]+)'"
    MODULE.bazel "module\\(name = \"vormesta\", version = \"([0-9.]+)\"")
file(GLOB_RECURSE projects RELATIVE "${ROOT}" "${ROOT}/examples/*/CMakeLists.txt"
     "${ROOT}/tests/cmake/*/CMakeLists.txt")
file(GLOB pages RELATIVE "${ROOT}" "${ROOT}/docs/*.md")
foreach(file IN ITEMS README.md ${pages} ${projects})
  list(APPEND places "${file}" "find_package\\(vormesta ([0-9.]+)")
endforeach()
set(wrong "")
while(places)
  list(POP_FRONT places file pattern)
  file(STRINGS "${ROOT}/${file}" lines REGEX "${pattern}")
  if(NOT lines AND NOT file MATCHES "CMakeLists.txt$|^docs/")
    string(APPEND wrong "\n  ${file}: no version found")
  endif()
  foreach(line IN LISTS lines)
    string(REGEX MATCH "${pattern}" found "${line}")
    if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
      string(APPEND wrong "\n  ${file}: ${CMAKE_MATCH_1} (${line})")
    endif()
  endforeach()
endwhile()
if(wrong)
  message(FATAL_ERROR "vormesta is ${VERSION}, but:${wrong}")
endif()
