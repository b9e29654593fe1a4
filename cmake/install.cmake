# What `cmake --install` puts on the device, and the Debian packages of it:
# one package per install component (cmake/deb-component.cmake).
#
#   component    package        what
#   vellum       vellum         the tool, vellum(1), its bash completion
#   library      libvellum0     libvellum.so.0, for the programs that use it
#   development  libvellum-dev  vellum.h, libvellum.so, libvellum.a,
#                               vellum.pc, vellum(3)

include(${CMAKE_CURRENT_LIST_DIR}/deb-component.cmake)

# The package's maintainer, also the signer of every changelog entry.
set(CPACK_PACKAGE_CONTACT "vellum maintainers <vellum-maintainers@hmd-platform.dev>")

# A manual page of doc/ carries the project's version; it is installed
# compressed (gzip -9n, as Debian wants it) into its section's folder, and
# build/.../doc/PAGE stays for the tests.
function(vellum_man_page page component)
  string(REGEX REPLACE "^.*\\." "" section ${page})
  set(built ${PROJECT_BINARY_DIR}/doc/${page})
  configure_file(${PROJECT_SOURCE_DIR}/doc/${page} ${built} @ONLY)
  add_custom_command(
    OUTPUT ${built}.gz
    COMMAND ${CMAKE_COMMAND} -DINPUT=${built} -DOUTPUT=${built}.gz -DGZIP=${VELLUM_GZIP}
      -P ${PROJECT_SOURCE_DIR}/cmake/gzip-9n.cmake
    DEPENDS ${built} ${PROJECT_SOURCE_DIR}/cmake/gzip-9n.cmake
    COMMENT "Compressing the manual page ${page}"
    VERBATIM)
  set_property(GLOBAL APPEND PROPERTY VELLUM_MAN_PAGES ${built}.gz)
  install(FILES ${built}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
    COMPONENT ${component})
endfunction()

# The tool: component and package `vellum`.
install(TARGETS vellum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vellum)
vellum_man_page(vellum.1 vellum)
install(FILES ${PROJECT_SOURCE_DIR}/doc/vellum.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vellum
  COMPONENT vellum)

vellum_deb_component(vellum PACKAGE vellum SECTION utils
  SUMMARY "${PROJECT_DESCRIPTION}"
  DESCRIPTION
  "Sets and prints the serial numbers, board revisions, MAC addresses, sensor\n\
thresholds, IPD limits, audio parameters and calibration blobs kept in the\n\
I2C EEPROMs of the headset's core board and head strap, through sysfs.")

# The library (not built for the fuzz targets). The package that carries
# libvellum.so.N is named after its soname, libvellumN (Debian's rule for a
# shared library), and the development package needs exactly its version.
if(TARGET vellum_shared)
  install(TARGETS vellum_shared
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
      NAMELINK_COMPONENT development)
  install(TARGETS vellum_core ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT development)
  install(FILES ${PROJECT_BINARY_DIR}/include/vellum.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
  vellum_man_page(vellum.3 development)

  # vellum.pc names the prefix the files are installed under, which is known
  # only when they are (`cmake --install --prefix`, /usr in the packages):
  # cmake/vellum.pc.in is filled in here but for the prefix, which the
  # install step writes in.
  set(VELLUM_PC_PREFIX "@VELLUM_PC_PREFIX@")
  foreach(dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
      set(VELLUM_PC_${dir} "${CMAKE_INSTALL_${dir}}")
    else()
      set(VELLUM_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
  endforeach()
  string(REPLACE "\${prefix}" "\${CMAKE_INSTALL_PREFIX}" pc_dir "${VELLUM_PC_LIBDIR}/pkgconfig")
  set(pc ${PROJECT_BINARY_DIR}/pkgconfig/vellum.pc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vellum.pc.in ${pc}.in @ONLY)
  install(CODE "
    set(VELLUM_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${pc}.in\" \"${pc}\" @ONLY)
    file(INSTALL DESTINATION \"${pc_dir}\" TYPE FILE FILES \"${pc}\")"
    COMPONENT development)

  get_target_property(soversion vellum_shared SOVERSION)
  vellum_deb_component(library PACKAGE libvellum${soversion} SECTION libs
    SHARED_LIBRARY vellum_shared
    SUMMARY "C library to read and write the headset's identity and calibration EEPROMs"
    DESCRIPTION
    "libvellum reads and writes the records that the vellum tool keeps in the\n\
I2C EEPROMs of the headset's core board and head strap, with the tool's\n\
locks, store order and read-back, for programs that read them at boot or\n\
keep reading them. It needs nothing but the C library.\n\
\n\
This package holds the shared library.")
  vellum_deb_component(development PACKAGE libvellum-dev SECTION libdevel
    DEPENDS "libvellum${soversion} (= ${PROJECT_VERSION})"
    SUMMARY "development files of libvellum, the headset's EEPROM records library"
    DESCRIPTION
    "libvellum reads and writes the records that the vellum tool keeps in the\n\
I2C EEPROMs of the headset's core board and head strap, from C99 or C++.\n\
\n\
This package holds the header vellum.h, the libraries to link (shared and\n\
static), the pkg-config file vellum.pc and the manual page vellum(3).")
endif()

get_property(man_pages GLOBAL PROPERTY VELLUM_MAN_PAGES)
add_custom_target(vellum-man-page ALL DEPENDS ${man_pages})

# A package for each component declared above, named and described there;
# the file name is Debian's (vellum_1.0.0_amd64.deb).
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
get_property(CPACK_COMPONENTS_ALL GLOBAL PROPERTY VELLUM_DEB_COMPONENTS)
get_property(CPACK_VELLUM_SHLIBDEPS GLOBAL PROPERTY VELLUM_DEB_SHLIBDEPS)
set(CPACK_PACKAGE_NAME vellum)
set(CPACK_PACKAGE_VENDOR "vellum developers")
# Each package's description begins with its own summary line, and a
# shared library's Depends are read when cpack runs: cmake/cpack-project.cmake.
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
