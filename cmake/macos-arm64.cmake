# macOS on arm64, built with zig (cmake/macos.cmake).
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(QUARO_MACOS_TARGET aarch64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/macos.cmake)
