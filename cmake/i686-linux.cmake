# Builds for 32-bit x86 Linux with the host's gcc and Debian's multilib (g++-multilib), and
# runs what it builds (tests included) under qemu-i386, for a kernel that runs no 32-bit
# programs itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)

find_program(VORMESTA_QEMU_I386 qemu-i386)
if(VORMESTA_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORMESTA_QEMU_I386})
endif()
