# The library step run twice over one folder, into two build folders, each compressing afresh:
# the same source, forms and all, byte for byte (no time or name in a gzip header). Then a file
# edited with its size kept: the first folder's step, with its cache, gives what a fresh one
# gives (no form or validator of the old bytes kept).
string(REPLACE "|" ";" emulator "${EMULATOR}")
file(REMOVE_RECURSE "${WORK}")
file(COPY "${FOLDER}/" DESTINATION "${WORK}/folder")
function(run_step run)
  execute_process(COMMAND ${emulator} "${STEP}" library - "name\tweb"
                          "source\t${WORK}/${run}/index/web.c" "header\t${WORK}/${run}/vormesta/web.h"
                          "record\t${WORK}/${run}/record" "folder\t${WORK}/folder\t\t${CODINGS}"
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()
function(expect_same a b what)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/${a}/index/web.c"
                          "${WORK}/${b}/index/web.c" RESULT_VARIABLE differ)
  file(READ "${WORK}/${a}/index/web.c" source)
  string(REGEX MATCHALL "{\"(gzip|br|zstd)\"" forms "${source}")
  list(LENGTH forms count)
  if(differ OR count EQUAL 0)
    message(FATAL_ERROR "${what}: other sources, or no forms (${count})")
  endif()
endfunction()
run_step(a)
run_step(b)
expect_same(a b "two runs over one folder")
file(READ "${WORK}/folder/index.html" page)
string(REPLACE "quick brown fox" "quick brown cat" page "${page}")
file(WRITE "${WORK}/folder/index.html" "${page}")
run_step(a)
run_step(c)
expect_same(a c "a run with the cache after an edit, and a fresh one")
