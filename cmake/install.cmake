# What `cmake --install` puts on the device, and the Debian package of it.

install(TARGETS vellum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page carries the project's version.
configure_file(${PROJECT_SOURCE_DIR}/doc/vellum.1 ${PROJECT_BINARY_DIR}/doc/vellum.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/doc/vellum.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/doc/vellum.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vellum)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellum)
set(CPACK_PACKAGE_VENDOR "vellum developers")
set(CPACK_PACKAGE_CONTACT "vellum developers <vellum@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "Sets and prints the serial numbers, board revisions, MAC addresses, sensor\n\
thresholds, IPD limits, audio parameters and calibration blobs kept in the\n\
I2C EEPROMs of the headset's core board and head strap, through sysfs.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
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
