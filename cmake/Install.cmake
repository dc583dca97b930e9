# Installation and the Debian packages of the Linux build.
#
#   bin/lumafex                       the host program
#   lib/lumafex/lumafex3.p            the module, found by lumafex through ../lib/lumafex
#   lib/lumafex/lumafex3-qt.so        its settings dialog (package lumafex-dialog)
#   include/lumafex/host_interface.h  the host interface, for other hosts
#   lib/pkgconfig/lumafex.pc, lib/cmake/Lumafex/   for finding them
#   share/man/man1/lumafex.1, share/bash-completion/completions/lumafex
#   share/doc/lumafex/scene-format.md, farm.md   the scene format, the farm
#   lib/python3/dist-packages/lumafex/  the Python package (python3-lumafex)
#
# `cpack -G DEB` in the build folder makes lumafex_*.deb and, where Qt was
# found, lumafex-dialog_*.deb: render nodes install the first one only;
# where pybind11 was found, python3-lumafex_*.deb too.
include(CMakePackageConfigHelpers)

set(LUMAFEX_MODULE_DESTINATION lib/lumafex)

install(TARGETS lumafex RUNTIME DESTINATION bin COMPONENT runtime)
install(TARGETS lumafex_module LIBRARY DESTINATION ${LUMAFEX_MODULE_DESTINATION}
        COMPONENT runtime)
if(TARGET lumafex_dialog_qt)
  install(TARGETS lumafex_dialog_qt LIBRARY DESTINATION ${LUMAFEX_MODULE_DESTINATION}
          COMPONENT dialog)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/src/abi/host_interface.h DESTINATION include/lumafex
        COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumafex.bash-completion
        DESTINATION share/bash-completion/completions RENAME lumafex COMPONENT runtime)
# The documents the manual page points to.
install(FILES ${PROJECT_SOURCE_DIR}/docs/scene-format.md ${PROJECT_SOURCE_DIR}/docs/farm.md
        DESTINATION share/doc/lumafex COMPONENT runtime)

# Both files find the installation from where they lie, so the tree can be
# installed under any prefix and moved.
configure_file(${PROJECT_SOURCE_DIR}/packaging/lumafex.pc.in ${PROJECT_BINARY_DIR}/lumafex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/lumafex.pc DESTINATION lib/pkgconfig COMPONENT runtime)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/LumafexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/LumafexConfig.cmake
              ${PROJECT_BINARY_DIR}/LumafexConfigVersion.cmake
        DESTINATION lib/cmake/Lumafex COMPONENT runtime)

# The manual page, made from the program's own help text.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/lumafex.1
    COMMAND bash ${PROJECT_SOURCE_DIR}/packaging/command-help-h2m.sh $<TARGET_FILE:lumafex>
            ${PROJECT_SOURCE_DIR}/packaging/lumafex.h2m ${PROJECT_BINARY_DIR}/lumafex.h2m
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr
            --name "filter rendered image sequences through the Lumafex3 module"
            --include ${PROJECT_BINARY_DIR}/lumafex.h2m
            --output ${PROJECT_BINARY_DIR}/lumafex.1 $<TARGET_FILE:lumafex>
    DEPENDS lumafex ${PROJECT_SOURCE_DIR}/packaging/lumafex.h2m
            ${PROJECT_SOURCE_DIR}/packaging/command-help-h2m.sh
    COMMENT "Writing the manual page lumafex.1")
  add_custom_target(lumafex_man ALL DEPENDS ${PROJECT_BINARY_DIR}/lumafex.1)
  install(FILES ${PROJECT_BINARY_DIR}/lumafex.1 DESTINATION share/man/man1 COMPONENT runtime)
else()
  message(STATUS "help2man not found: no manual page")
endif()

set(CPACK_PACKAGE_NAME lumafex)
set(CPACK_PACKAGE_VENDOR "Lumafex")
set(CPACK_PACKAGE_CONTACT "Lumafex developers <lumafex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Lumafex3 image filter module and the lumafex host program")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime)
if(TARGET lumafex_dialog_qt)
  list(APPEND CPACK_COMPONENTS_ALL dialog)
endif()
# The Python package (python/CMakeLists.txt installs it), on the module.
if(TARGET lumafex_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-lumafex)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "lumafex (= ${PROJECT_VERSION}), ${LUMAFEX_PYTHON_DEPENDS}")
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python package of the Lumafex3 module (import lumafex)")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME lumafex)
set(CPACK_DEBIAN_DIALOG_PACKAGE_NAME lumafex-dialog)
set(CPACK_DEBIAN_DIALOG_PACKAGE_DEPENDS "lumafex (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DIALOG_DESCRIPTION "Qt 6 settings dialog of the Lumafex3 module")
include(CPack)
