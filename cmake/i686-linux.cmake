# Builds for 32-bit x86 Linux with the host's gcc and Debian's multilib (g++-multilib), and
# runs what it builds (tests included) under qemu-i386, for a kernel that runs no 32-bit
# programs itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
# Debian's gcc-multilib makes /usr/include/asm, but conflicts with the cross compilers; without
# it the kernel's asm headers are found where the 64-bit ones are, which serve -m32 alike.
if(NOT EXISTS /usr/include/asm AND EXISTS /usr/include/x86_64-linux-gnu/asm)
  string(APPEND CMAKE_C_FLAGS_INIT " -idirafter /usr/include/x86_64-linux-gnu")
  string(APPEND CMAKE_CXX_FLAGS_INIT " -idirafter /usr/include/x86_64-linux-gnu")
endif()

find_program(VORMESTA_QEMU_I386 qemu-i386)
if(VORMESTA_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORMESTA_QEMU_I386})
endif()
