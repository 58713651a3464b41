# Every call on the file system goes through the platform layer (platform_posix.cpp and
# platform_windows.cpp): elsewhere a narrow call would take a Windows path as the code page,
# not UTF-8.
set(calls "fopen|freopen|open|openat|creat|stat|lstat|fstatat|opendir|fdopendir|mkdir|rmdir"
          "remove|rename|renameat|unlink|unlinkat|realpath|chmod|utime|utimensat|access"
          "mkstemp|truncate|CreateFile[AW]?|DeleteFile[AW]?|MoveFileEx[AW]?|FindFirstFile[AW]?"
          "GetFileAttributes[AW]?|_wfopen|_wstat64|_wopen|_wremove|_wrename")
list(JOIN calls "|" calls)
file(GLOB sources RELATIVE "${ROOT}" "${ROOT}/src/*.cpp" "${ROOT}/src/*.hpp")
list(FILTER sources EXCLUDE REGEX "^src/platform")
set(outside "")
foreach(source IN LISTS sources)
  file(STRINGS "${ROOT}/${source}" lines)
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    string(REGEX REPLACE "//.*" "" code "${line}")
    # A member of that name (out.open, temporary_.remove) is the layer's own, and a line
    # that declares one (Opened open(...)) calls nothing.
    if(code MATCHES "(^|[^.>:A-Za-z0-9_])(std::|::)?(${calls}) *\\(" AND
       (NOT code MATCHES "^ *([A-Za-z_][A-Za-z0-9_:<>]*) +(${calls}) *\\(" OR
        CMAKE_MATCH_1 STREQUAL "return"))
      string(APPEND outside "\n  ${source}:${number}: ${line}")
    endif()
  endforeach()
endforeach()
if(outside)
  message(FATAL_ERROR "file-system calls outside the platform layer:${outside}")
endif()
