# Cross-builds the Windows console program with Debian's MinGW-w64 and runs what it builds
# (tests included) under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex, which the win32 model lacks in GCC 12.
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no libstdc++, libgcc or winpthread DLLs to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine, quiet: its own diagnostics are not the program's output. -DVORMESTA_USE_WINE=OFF makes
# a cross build like any other, whose programs cannot run here.
option(VORMESTA_USE_WINE "Run what the build makes under Wine" ON)
find_program(VORMESTA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VORMESTA_WINE AND VORMESTA_USE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEDEBUG=-all ${VORMESTA_WINE})
endif()
