# Cross build for macOS with zig's C++ compiler (cmake/zig.sh puts it in
# build/zig) for the target that the including toolchain file names. The
# programs are built, not run: nothing here runs a macOS program.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/../build/zig/package/zig c++ -target ${QUARO_MACOS_TARGET})
# Archives of Mach-O objects, with their symbol tables (package llvm).
find_program(CMAKE_AR llvm-ar REQUIRED)
find_program(CMAKE_RANLIB llvm-ranlib REQUIRED)
