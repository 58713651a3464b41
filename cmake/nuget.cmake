# The NuGet package for Visual Studio C++ projects (msbuild/): the Windows x64 programs, the
# props and targets, and the probe objects of MSVC's three platforms, made by clang (which
# writes MSVC objects without an MSVC). `cmake --build <windows build> --target nuget` packs it
# into packages/ with `dotnet pack`.
find_program(VORMESTA_DOTNET dotnet)
find_program(VORMESTA_PROBE_COMPILER NAMES clang-19 clang)
if(NOT VORMESTA_DOTNET OR NOT VORMESTA_PROBE_COMPILER)
  message(STATUS "vormesta: no dotnet or clang here, so no NuGet package (target nuget)")
  return()
endif()

set(probes "${PROJECT_BINARY_DIR}/nuget-probes")
set(probe_objects "")
foreach(platform x86:i686 x64:x86_64 arm64:aarch64)
  string(REPLACE ":" ";" platform "${platform}")
  list(GET platform 0 folder)
  list(GET platform 1 cpu)
  set(object "${probes}/${folder}/probe.obj")
  file(MAKE_DIRECTORY "${probes}/${folder}")
  add_custom_command(OUTPUT "${object}"
                     COMMAND "${VORMESTA_PROBE_COMPILER}" --target=${cpu}-pc-windows-msvc -c
                             "${PROJECT_SOURCE_DIR}/msbuild/probe.c" -o "${object}"
                     DEPENDS "${PROJECT_SOURCE_DIR}/msbuild/probe.c" VERBATIM)
  list(APPEND probe_objects "${object}")
endforeach()

add_custom_target(nuget
  COMMAND "${VORMESTA_DOTNET}" pack "${PROJECT_SOURCE_DIR}/msbuild/pack.csproj"
          -o "${PROJECT_BINARY_DIR}/packages" "-p:VormestaVersion=${PROJECT_VERSION}.0"
          "-p:VormestaBin=$<TARGET_FILE_DIR:vormesta>" "-p:VormestaProbes=${probes}"
          "-p:BaseIntermediateOutputPath=${PROJECT_BINARY_DIR}/nuget-obj/" -nologo
  DEPENDS vormesta vormesta_step ${probe_objects}
  COMMENT "vormesta: packing the NuGet package" VERBATIM)
