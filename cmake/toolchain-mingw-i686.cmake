# Cross build for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
#
# The module runs inside a 32-bit host process, so the target is i686. The
# processor name matters: CompilerOptions.cmake switches 32-bit x86 builds to
# SSE2 arithmetic when it matches "86", which keeps every rounding the same
# as in a 64-bit build.
#
# The compiler's posix thread model is used, whose C++ library has std::mutex
# and std::thread (GoogleTest needs them); its winpthread runtime is linked
# statically like everything else (see src/CMakeLists.txt), so the module
# and the programs depend on Windows system DLLs only.
#
# Executables run through Wine when one is installed, which lets CTest run
# the Windows tests on this machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(LUMAFEX_MINGW_TRIPLE i686-w64-mingw32)
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
  find_program(LUMAFEX_WINE wine)
  if(LUMAFEX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMAFEX_WINE})
  endif()
endif()
