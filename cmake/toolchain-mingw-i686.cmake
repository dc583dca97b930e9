# Cross build for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
#
# The module runs inside a 32-bit host process, so the target is i686. The
# processor name matters: CompilerOptions.cmake switches 32-bit x86 builds to
# SSE2 arithmetic when it matches "86", which keeps every rounding the same
# as in a 64-bit build.
#
# Its programs run under the wine launcher, which starts 32-bit Wine; that
# needs a machine that can execute 32-bit x86 code.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LUMAFEX_MINGW_TRIPLE i686-w64-mingw32)
set(LUMAFEX_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
