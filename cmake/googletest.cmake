# GoogleTest: the installed package for native builds; for a cross build, Debian's googletest
# sources built with the cross compiler (an installed library would be for the wrong host).
# Neither there: no GTest::gtest_main, and the caller leaves the tests out.
set(VORMESTA_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources for cross builds")

if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest CONFIG QUIET)
endif()
if(NOT TARGET GTest::gtest_main AND EXISTS "${VORMESTA_GOOGLETEST_SOURCE}/CMakeLists.txt")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory("${VORMESTA_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
if(TARGET GTest::gtest_main)
  include(GoogleTest)
endif()
