# One rule for platform files in every folder: a file named *_posix.cpp is
# built everywhere but Windows, one named *_win32.cpp only on Windows, and
# every other file everywhere. A portable file never chooses between whole
# implementations with #ifdef.
function(lumafex_select_platform_sources list_var)
  set(sources ${${list_var}})
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${list_var} ${sources} PARENT_SCOPE)
endfunction()
