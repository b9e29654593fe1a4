# What `cmake --install` puts on the device, and the Debian packages of it:
# one package per install component (cmake/deb-component.cmake).

include(${CMAKE_CURRENT_LIST_DIR}/deb-component.cmake)

# The package's maintainer, also the signer of every changelog entry.
set(CPACK_PACKAGE_CONTACT "vellum maintainers <vellum-maintainers@hmd-platform.dev>")

# The tool: component and package `vellum`.
install(TARGETS vellum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vellum)

# The manual page carries the project's version; it is installed compressed
# (gzip -9n, as Debian wants it), build/.../doc/vellum.1 stays for the tests.
configure_file(${PROJECT_SOURCE_DIR}/doc/vellum.1 ${PROJECT_BINARY_DIR}/doc/vellum.1 @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/doc/vellum.1.gz
  COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_BINARY_DIR}/doc/vellum.1
    -DOUTPUT=${PROJECT_BINARY_DIR}/doc/vellum.1.gz -DGZIP=${VELLUM_GZIP}
    -P ${PROJECT_SOURCE_DIR}/cmake/gzip-9n.cmake
  DEPENDS ${PROJECT_BINARY_DIR}/doc/vellum.1 ${PROJECT_SOURCE_DIR}/cmake/gzip-9n.cmake
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(vellum-man-page ALL DEPENDS ${PROJECT_BINARY_DIR}/doc/vellum.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/doc/vellum.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT vellum)
install(FILES ${PROJECT_SOURCE_DIR}/doc/vellum.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vellum
  COMPONENT vellum)

vellum_deb_component(vellum PACKAGE vellum SECTION utils
  SUMMARY "${PROJECT_DESCRIPTION}"
  DESCRIPTION
  "Sets and prints the serial numbers, board revisions, MAC addresses, sensor\n\
thresholds, IPD limits, audio parameters and calibration blobs kept in the\n\
I2C EEPROMs of the headset's core board and head strap, through sysfs.")

# A package for each component declared above, named and described there;
# the file name is Debian's (vellum_1.0.0_amd64.deb).
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
get_property(CPACK_COMPONENTS_ALL GLOBAL PROPERTY VELLUM_DEB_COMPONENTS)
set(CPACK_PACKAGE_NAME vellum)
set(CPACK_PACKAGE_VENDOR "vellum developers")
# Each package's description begins with its own summary line; this file
# keeps CPack from putting the project's summary in front of each.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-project.cmake)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# Depends: from dpkg-shlibdeps, which reads the binary's needed libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
  # The target's C library is the cross one under /usr/<triplet>; its shlibs
  # name the target's package (libc6:arm64 and the like).
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VELLUM_DEB_ARCH})
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VELLUM_TARGET_ROOT}/lib)
endif()
include(CPack)
