# Warning and floating-point options shared by every target.
#
# Exactness: every single-precision value is rounded where the code stores
# it, so no contraction into fused multiply-adds and no excess precision.
# On 32-bit x86 that means SSE2 arithmetic instead of the x87 unit.
add_library(lumafex_options INTERFACE)
target_compile_options(lumafex_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wundef
  -ffp-contract=off -fno-fast-math)
# GCC marks static locals of inline functions (the standard library's among
# them) as unique symbols, and glibc never unloads a library that has one:
# without them the module's state (its record, its noise generator) starts
# afresh each time a host loads it, as in a new process.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
  target_compile_options(lumafex_options INTERFACE -fno-gnu-unique)
endif()
if(LUMAFEX_WERROR)
  target_compile_options(lumafex_options INTERFACE -Werror)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "86")
  target_compile_options(lumafex_options INTERFACE -msse2 -mfpmath=sse)
endif()
if(LUMAFEX_SANITIZE)
  target_compile_options(lumafex_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(lumafex_options INTERFACE -fsanitize=address,undefined)
endif()
