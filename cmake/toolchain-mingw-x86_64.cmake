# Cross build for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64): the module for 64-bit hosts, and the programs and
# tests as 64-bit Windows programs.
#
# Its programs run under 64-bit Wine itself (Debian keeps its loader in
# /usr/lib/wine as wine64). The wine launcher is not used: where 32-bit Wine
# is installed it starts that first, which fails on machines that cannot
# execute 32-bit x86 code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LUMAFEX_MINGW_TRIPLE x86_64-w64-mingw32)
set(LUMAFEX_WINE_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
