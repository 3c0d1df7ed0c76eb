# macOS on x86_64, built with zig (cmake/macos.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUARO_MACOS_TARGET x86_64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/macos.cmake)
