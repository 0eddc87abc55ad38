# The part of the mingw-w64 toolchain files that both architectures share: the posix-thread variant of
# the cross compilers, named by the triple of CMAKE_SYSTEM_PROCESSOR, and a sysroot searched for
# libraries and headers only, never for programs to run on the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(ZAL_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${ZAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZAL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZAL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZAL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
