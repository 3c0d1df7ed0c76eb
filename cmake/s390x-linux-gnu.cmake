# Cross build for big-endian s390x (IBM Z) Linux with Debian's cross compiler
# (package g++-s390x-linux-gnu), statically linked, so that the one file runs
# on any Linux of the processor. Programs and tests run under qemu-s390x
# (package qemu-user), named here: without binfmt_misc a foreign binary run
# directly fails with "Exec format error".
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(QUARO_QEMU qemu-s390x)
if(QUARO_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARO_QEMU})
endif()
