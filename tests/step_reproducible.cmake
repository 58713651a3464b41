# The library step run twice over one folder, into two build folders, each compressing afresh:
# the same source, forms and all, byte for byte (no time or name in a gzip header).
string(REPLACE "|" ";" emulator "${EMULATOR}")
foreach(run a b)
  file(REMOVE_RECURSE "${WORK}/${run}")
  execute_process(COMMAND ${emulator} "${STEP}" library - "name\tweb" "source\t${WORK}/${run}/index/web.c"
                          "header\t${WORK}/${run}/vormesta/web.h" "record\t${WORK}/${run}/record"
                          "folder\t${FOLDER}\t\t${CODINGS}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/a/index/web.c"
                        "${WORK}/b/index/web.c" RESULT_VARIABLE differ)
file(READ "${WORK}/a/index/web.c" source)
string(REGEX MATCHALL "{\"(gzip|br|zstd)\"" forms "${source}")
list(LENGTH forms count)
if(differ OR count EQUAL 0)
  message(FATAL_ERROR "two runs over ${FOLDER} gave other sources, or no forms (${count})")
endif()
