# A copy of the tool built apart from the project's own configurations: in Release, with the build
# machine's default compilers (no toolchain file is handed on). For a cross build whose programs
# cannot run on the build machine, and for multi-config generators, where one header per file
# must serve every configuration (switching Debug -> Release -> Debug embeds nothing again).
# vormesta_embed then runs it, unless VORMESTA_EXECUTABLE names an existing tool.
include_guard(GLOBAL)
include(ExternalProject)

function(_vormesta_build_host_tool source_dir)
  get_property(built GLOBAL PROPERTY VORMESTA_EMBED_TOOL)
  if(built OR VORMESTA_EXECUTABLE)
    return()
  endif()
  set(host_dir "${CMAKE_BINARY_DIR}/vormesta_host")
  set(host_tool "${host_dir}/bin/vormesta${CMAKE_HOST_EXECUTABLE_SUFFIX}")
  ExternalProject_Add(vormesta_host
    SOURCE_DIR "${source_dir}"
    BINARY_DIR "${host_dir}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVORMESTA_INSTALL=OFF
               "-DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${host_dir}/bin"
               "-DCMAKE_RUNTIME_OUTPUT_DIRECTORY_RELEASE=${host_dir}/bin"
    BUILD_COMMAND "${CMAKE_COMMAND}" --build <BINARY_DIR> --config Release --target vormesta
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${host_tool}")
  set_property(GLOBAL PROPERTY VORMESTA_EMBED_TOOL "${host_tool}")
  set_property(GLOBAL PROPERTY VORMESTA_HOST_BUILD vormesta_host)
endfunction()
