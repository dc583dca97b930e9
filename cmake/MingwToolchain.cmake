# The part of the mingw-w64 toolchain files that both Windows targets share.
# The including file sets CMAKE_SYSTEM_PROCESSOR, LUMAFEX_MINGW_TRIPLE and
# LUMAFEX_WINE_NAMES (the Wine loaders that run its programs, best first).
#
# The compiler's posix thread model is used, whose C++ library has std::mutex
# and std::thread (GoogleTest needs them); its winpthread runtime is linked
# statically like everything else (see src/CMakeLists.txt), so the module
# and the programs depend on Windows system DLLs only.
#
# Executables run through Wine when one is installed, which lets CTest run
# the Windows tests on this machine.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${LUMAFEX_MINGW_TRIPLE}-gcc-posix ${LUMAFEX_MINGW_TRIPLE}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${LUMAFEX_MINGW_TRIPLE}-g++-posix ${LUMAFEX_MINGW_TRIPLE}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${LUMAFEX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMAFEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(LUMAFEX_WINE NAMES ${LUMAFEX_WINE_NAMES} PATHS /usr/lib/wine)
  if(LUMAFEX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMAFEX_WINE})
  endif()
endif()
