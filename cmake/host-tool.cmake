# A copy of the tool built while configuring, apart from the project's own configurations,
# toolchain and flags: in Release, with the build machine's default compilers. A project that
# takes vormesta in as sources embeds with it (so a cross build, or any configuration of a
# multi-config generator, runs one tool that runs here), and vormesta_add_library asks it for
# array names while configuring. Each configure brings it up to date; the first builds it, and
# says so.
include_guard(GLOBAL)

function(_vormesta_build_host_tool source_dir)
  get_property(built GLOBAL PROPERTY VORMESTA_EMBED_TOOL)
  get_property(tried GLOBAL PROPERTY VORMESTA_HOST_TOOL_TRIED)
  if(built OR tried OR VORMESTA_EXECUTABLE)
    return()
  endif()
  set_property(GLOBAL PROPERTY VORMESTA_HOST_TOOL_TRIED TRUE)
  set(host_dir "${CMAKE_BINARY_DIR}/vormesta_host")
  set(host_tool "${host_dir}/bin/vormesta${CMAKE_HOST_EXECUTABLE_SUFFIX}")
  string(REPLACE " Multi-Config" "" generator "${CMAKE_GENERATOR}")
  set(make_program "")
  if(generator MATCHES "Ninja|Makefiles")
    set(make_program "-DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}")
  endif()
  # The target's compilers and flags, where the environment names them, are not the build
  # machine's.
  set(clean_environment "${CMAKE_COMMAND}" -E env --unset=CC --unset=CXX --unset=CFLAGS
                        --unset=CXXFLAGS --unset=LDFLAGS)
  set(failed 0)
  if(NOT EXISTS "${host_dir}/CMakeCache.txt")
    # The first time takes a while, and nothing else would say what the configure waits for.
    message(STATUS "vormesta: building vormesta and vormesta-step for this machine in "
                   "${host_dir}, once (every build runs them here, whatever the target)")
    execute_process(
      COMMAND ${clean_environment} "${CMAKE_COMMAND}" -S "${source_dir}" -B "${host_dir}"
              -G "${generator}" ${make_program} -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
              -DVORMESTA_INSTALL=OFF "-DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${host_dir}/bin"
              "-DCMAKE_RUNTIME_OUTPUT_DIRECTORY_RELEASE=${host_dir}/bin"
      RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
  endif()
  if(NOT failed)
    execute_process(
      COMMAND ${clean_environment} "${CMAKE_COMMAND}" --build "${host_dir}" --config Release
              --target vormesta vormesta_step --parallel 2
      RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
  endif()
  # A native build can still embed with the tool built as part of it, as it did before.
  if(failed)
    file(REMOVE "${host_dir}/CMakeCache.txt")
    set(level FATAL_ERROR)
    if(NOT CMAKE_CROSSCOMPILING)
      set(level WARNING)
    endif()
    message(${level} "vormesta: the tool for the build machine did not build in ${host_dir}; "
                     "embedding with the one this build makes:\n${log}")
    return()
  endif()
  set_property(GLOBAL PROPERTY VORMESTA_EMBED_TOOL "${host_tool}")
endfunction()
