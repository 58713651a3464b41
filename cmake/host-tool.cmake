# A cross build whose programs cannot run on the build machine (a toolchain for another target
# and no emulator): vormesta_embed runs a copy of the tool built for the build machine, with the
# build machine's own compilers, unless VORMESTA_EXECUTABLE names an existing one.
include(ExternalProject)

if(NOT VORMESTA_EXECUTABLE)
  set(host_dir "${CMAKE_CURRENT_BINARY_DIR}/host")
  set(host_tool "${host_dir}/bin/vormesta")
  if(CMAKE_HOST_WIN32)
    string(APPEND host_tool ".exe")
  endif()
  # No toolchain file is handed on: the build machine's default compilers build it.
  ExternalProject_Add(vormesta_host
    SOURCE_DIR "${PROJECT_SOURCE_DIR}"
    BINARY_DIR "${host_dir}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVORMESTA_INSTALL=OFF
               "-DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${host_dir}/bin"
               "-DCMAKE_RUNTIME_OUTPUT_DIRECTORY_RELEASE=${host_dir}/bin"
    BUILD_COMMAND "${CMAKE_COMMAND}" --build <BINARY_DIR> --config Release --target vormesta
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS "${host_tool}")
  add_executable(vormesta::vormesta IMPORTED GLOBAL)
  set_target_properties(vormesta::vormesta PROPERTIES IMPORTED_LOCATION "${host_tool}")
  set_property(GLOBAL PROPERTY VORMESTA_HOST_BUILD vormesta_host)
endif()
