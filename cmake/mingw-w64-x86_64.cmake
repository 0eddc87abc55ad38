# Cross-compiling for 64-bit Windows with the posix-thread variant of mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
