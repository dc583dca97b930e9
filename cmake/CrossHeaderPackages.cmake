# Header-only packages in a cross build.
#
# A header-only package is the same for every target, so the cross build uses
# the copy installed on the build machine. Its CMake package file would name
# the build machine's whole /usr/include as include folder, which would put
# that machine's C library headers before the cross compiler's own; instead
# each package is staged in the build folder with only its own headers
# (symbolic links), and the stage is searched like a target root.
#
# lumafex_stage_header_package(<package> <config folder> <include entry>...)
#   <config folder>: where the build machine keeps <package>Config.cmake
#   <include entry>: folders or files under /usr/include the package owns
set(LUMAFEX_HEADER_STAGE ${CMAKE_BINARY_DIR}/header-packages)

function(lumafex_stage_header_package package config_dir)
  if(NOT EXISTS ${config_dir})
    return()
  endif()
  # The package files find their prefix three levels above themselves, so
  # they sit in <stage>/usr/share/cmake/<package> and see <stage>/usr/include.
  set(stage_config ${LUMAFEX_HEADER_STAGE}/usr/share/cmake/${package})
  file(MAKE_DIRECTORY ${stage_config} ${LUMAFEX_HEADER_STAGE}/usr/include)
  file(GLOB config_files ${config_dir}/*.cmake)
  foreach(file IN LISTS config_files)
    get_filename_component(name ${file} NAME)
    file(CREATE_LINK ${file} ${stage_config}/${name} SYMBOLIC)
  endforeach()
  foreach(entry IN LISTS ARGN)
    file(CREATE_LINK /usr/include/${entry} ${LUMAFEX_HEADER_STAGE}/usr/include/${entry} SYMBOLIC)
  endforeach()
endfunction()

lumafex_stage_header_package(nlohmann_json /usr/share/cmake/nlohmann_json nlohmann)
lumafex_stage_header_package(CLI11 /usr/share/cmake/CLI11 CLI)
list(APPEND CMAKE_FIND_ROOT_PATH ${LUMAFEX_HEADER_STAGE})
