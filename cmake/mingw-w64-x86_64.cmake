# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers. The "-posix" flavour has
# std::thread and std::mutex, which Qt needs; the "-win32" one lacks them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRISKO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRISKO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRISKO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BRISKO_MINGW_TRIPLE}-windres)

# Libraries, headers and CMake packages come from the MinGW sysroot (and from the Windows Qt
# that qt-cmake adds), never from the Linux system; programs run on the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${BRISKO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Runs the cross-built test programs through wine where CMake needs to run one (ctest, try_run),
# with the QT_ variables that the tests set.
find_program(BRISKO_WINE wine)
if(BRISKO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
endif()

# Wine shows the build machine's root folder as drive Z:. Paths that the build writes into the
# test programs (their helpers, their data) are given that way, so that they still lead there
# once a test has made a folder on drive C: its current one.
set(BRISKO_HOST_ROOT "Z:")
