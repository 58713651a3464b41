# GoogleTest: the installed package for native builds; for a cross build, Debian's googletest
# sources built with the cross compiler (an installed library would be for the wrong host).
# Neither there: no GTest::gtest_main, and the caller leaves the tests out.
# Sources as a system keeps them (Debian: <prefix>/src/googletest), or where the cache says.
find_path(VORMESTA_GOOGLETEST_SOURCE NAMES googletest/include/gtest/gtest.h
          PATHS ${CMAKE_SYSTEM_PREFIX_PATH} PATH_SUFFIXES src/googletest NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH DOC "GoogleTest sources for cross builds")

if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest CONFIG QUIET)
endif()
if(NOT TARGET GTest::gtest_main AND EXISTS "${VORMESTA_GOOGLETEST_SOURCE}/CMakeLists.txt")
  # Its options take these values (not the cache's) where the policy lets a variable win.
  set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
  set(INSTALL_GTEST OFF)
  set(BUILD_GMOCK OFF)
  set(gtest_force_shared_crt ON)
  add_subdirectory("${VORMESTA_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
if(TARGET GTest::gtest_main)
  include(GoogleTest)
endif()
