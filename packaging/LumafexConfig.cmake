# find_package(Lumafex): the host interface header as Lumafex::host_interface
# (#include <lumafex/host_interface.h>), the module file as Lumafex_MODULE and
# the host program as Lumafex_EXECUTABLE.
get_filename_component(_lumafex_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET Lumafex::host_interface)
  add_library(Lumafex::host_interface INTERFACE IMPORTED)
  set_target_properties(Lumafex::host_interface PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_lumafex_prefix}/include")
endif()
set(Lumafex_MODULE "${_lumafex_prefix}/lib/lumafex/lumafex3.p")
set(Lumafex_EXECUTABLE "${_lumafex_prefix}/bin/lumafex")
unset(_lumafex_prefix)
