# The manifest (long paths, the Windows versions it was made for) and the version resource that
# Windows shows in the program's Properties, compiled into the executable.
enable_language(RC)

function(vormesta_windows_resources target)
  set(manifest "${PROJECT_BINARY_DIR}/vormesta.exe.manifest")
  configure_file("${PROJECT_SOURCE_DIR}/src/vormesta.exe.manifest" "${manifest}" @ONLY)
  configure_file("${PROJECT_SOURCE_DIR}/src/vormesta.rc.in" "${PROJECT_BINARY_DIR}/vormesta.rc" @ONLY)
  target_sources(${target} PRIVATE "${PROJECT_BINARY_DIR}/vormesta.rc")
  set_property(SOURCE "${PROJECT_BINARY_DIR}/vormesta.rc" APPEND PROPERTY OBJECT_DEPENDS "${manifest}")
endfunction()
