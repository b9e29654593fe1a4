# One Debian package per CPack component (CPACK_DEB_COMPONENT_INSTALL).
#
#   vellum_deb_component(COMPONENT PACKAGE name SECTION section
#     SUMMARY "one line" DESCRIPTION "paragraphs"
#     [DEPENDS "package (= version), ..."] [SHARED_LIBRARY target]
#     [LINTIAN_OVERRIDES file])
#
# declares the package that holds what the install() rules put into
# COMPONENT, and gives it what every Debian package carries in
# usr/share/doc/PACKAGE: `copyright` in the machine-readable format, made
# from LICENSE (cmake/deb-copyright.cmake), and `changelog.gz`, made from
# CHANGELOG.md (cmake/deb-changelog.cmake), both at build time and into
# build/.../deb/PACKAGE/. A LINTIAN_OVERRIDES file is installed as
# usr/share/lintian/overrides/PACKAGE; each override in it must follow a
# comment line that says why. DEPENDS is added to what dpkg-shlibdeps finds.
#
# SHARED_LIBRARY names the library target whose runtime files (libNAME.so.N
# and its soname link) the package holds; the package must be named after
# the soname (libNAMEN). It gets what Debian asks of a shared-library
# package: a `shlibs` control file, so that programs linked against the
# library depend on this package at this version or later; an ldconfig
# trigger (`triggers`), so that the loader's cache is brought up to date
# once dpkg is done; and its Depends from dpkg-shlibdeps. CPack's own scan
# of the package is turned off for it: CPack would add postinst and postrm
# scripts calling ldconfig, which Debian has replaced by the trigger.
#
# Call it once per package from the top-level directory (it sets CPack's
# per-component variables in the caller's scope), before include(CPack).
# The components it was called for are the ones packaged
# (VELLUM_DEB_COMPONENTS).

find_program(VELLUM_GZIP gzip REQUIRED)

function(vellum_deb_component component)
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
    "PACKAGE;SECTION;SUMMARY;DESCRIPTION;DEPENDS;SHARED_LIBRARY;LINTIAN_OVERRIDES" "")
  foreach(required PACKAGE SECTION SUMMARY DESCRIPTION)
    if(NOT arg_${required})
      message(FATAL_ERROR "vellum_deb_component(${component}): ${required} is required")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vellum_deb_component(${component}): unknown ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(package ${arg_PACKAGE})
  if(NOT package MATCHES "^[a-z0-9][a-z0-9.+-]+$")
    message(FATAL_ERROR "vellum_deb_component(${component}): '${package}' is no Debian package name")
  endif()

  # CPack names a component's variables by its name in upper case.
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_FILE_NAME DEB-DEFAULT PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_PACKAGE_SECTION ${arg_SECTION} PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_DESCRIPTION "${arg_SUMMARY}\n${arg_DESCRIPTION}" PARENT_SCOPE)
  if(NOT package STREQUAL PROJECT_NAME)
    # Every package is built from the one source, whose name the changelog
    # gives.
    set(CPACK_DEBIAN_${c}_PACKAGE_SOURCE ${PROJECT_NAME} PARENT_SCOPE)
  endif()
  if(arg_DEPENDS)
    set(CPACK_DEBIAN_${c}_PACKAGE_DEPENDS "${arg_DEPENDS}" PARENT_SCOPE)
  endif()
  set_property(GLOBAL APPEND PROPERTY VELLUM_DEB_COMPONENTS ${component})

  set(dir ${PROJECT_BINARY_DIR}/deb/${package})
  add_custom_command(
    OUTPUT ${dir}/copyright
    COMMAND ${CMAKE_COMMAND} -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE -DOUTPUT=${dir}/copyright
      -DUPSTREAM_NAME=${PROJECT_NAME} -DCONTACT=${CPACK_PACKAGE_CONTACT}
      -P ${PROJECT_SOURCE_DIR}/cmake/deb-copyright.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/cmake/deb-copyright.cmake
      ${PROJECT_SOURCE_DIR}/cmake/text-lines.cmake
    COMMENT "Debian copyright file of ${package}"
    VERBATIM)
  add_custom_command(
    OUTPUT ${dir}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -DCHANGELOG=${PROJECT_SOURCE_DIR}/CHANGELOG.md
      -DOUTPUT=${dir}/changelog.gz -DSOURCE=${PROJECT_NAME} -DVERSION=${PROJECT_VERSION}
      -DMAINTAINER=${CPACK_PACKAGE_CONTACT} -DGZIP=${VELLUM_GZIP}
      -P ${PROJECT_SOURCE_DIR}/cmake/deb-changelog.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/deb-changelog.cmake
      ${PROJECT_SOURCE_DIR}/cmake/text-lines.cmake
      ${PROJECT_SOURCE_DIR}/cmake/gzip-9n.cmake
    COMMENT "Debian changelog of ${package}"
    VERBATIM)
  add_custom_target(deb-doc-${package} ALL DEPENDS ${dir}/copyright ${dir}/changelog.gz)
  install(FILES ${dir}/copyright ${dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})

  if(arg_SHARED_LIBRARY)
    vellum_deb_shared_library(${c} ${package} ${arg_SHARED_LIBRARY} ${dir})
    set(CPACK_DEBIAN_${c}_PACKAGE_SHLIBDEPS OFF PARENT_SCOPE)
    set(CPACK_DEBIAN_${c}_PACKAGE_CONTROL_EXTRA ${dir}/control/shlibs ${dir}/control/triggers
      PARENT_SCOPE)
    set(CPACK_DEBIAN_${c}_PACKAGE_CONTROL_STRICT_PERMISSION ON PARENT_SCOPE)
  endif()

  if(arg_LINTIAN_OVERRIDES)
    # An override without a reason is refused here, before lintian sees it.
    set(file ${arg_LINTIAN_OVERRIDES})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    file(STRINGS ${file} lines)
    set(previous "")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "^#" AND NOT line MATCHES "^[ \t]*$" AND NOT previous MATCHES "^#")
        message(FATAL_ERROR "${file}: the override '${line}' follows no comment saying why")
      endif()
      set(previous "${line}")
    endforeach()
    install(FILES ${file} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
      RENAME ${package} COMPONENT ${component})
  endif()
endfunction()

# The control files of a shared-library package, and its Depends: these are
# found at build time (cmake/deb-shlibdeps.cmake) and written to DIR/depends,
# which cmake/cpack-project.cmake adds to the component's Depends when cpack
# runs (CPACK_VELLUM_SHLIBDEPS).
function(vellum_deb_shared_library c package target dir)
  get_target_property(name ${target} OUTPUT_NAME)
  get_target_property(soversion ${target} SOVERSION)
  # libfoo.so.1 is packaged as libfoo1, libfoo2.so.1 as libfoo2-1.
  if(name MATCHES "[0-9]$")
    set(expected lib${name}-${soversion})
  else()
    set(expected lib${name}${soversion})
  endif()
  if(NOT package STREQUAL expected)
    message(FATAL_ERROR "vellum_deb_component: the package of lib${name}.so.${soversion} "
      "is named ${expected}, not ${package}")
  endif()
  # Programs linked against this version need it or a later one of the
  # same soname (a new call raises the version in project()).
  file(WRITE ${dir}/control/shlibs "lib${name} ${soversion} ${package} (>= ${PROJECT_VERSION})\n")
  file(WRITE ${dir}/control/triggers "activate-noawait ldconfig\n")

  if(CMAKE_CROSSCOMPILING)
    set(search -DSEARCH_DIRS=${VELLUM_TARGET_ROOT}/lib)
  endif()
  add_custom_command(
    OUTPUT ${dir}/depends
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:${target}> -DOUTPUT=${dir}/depends
      ${search} -P ${PROJECT_SOURCE_DIR}/cmake/deb-shlibdeps.cmake
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/deb-shlibdeps.cmake
    COMMENT "Debian dependencies of ${package}"
    VERBATIM)
  add_custom_target(deb-depends-${package} ALL DEPENDS ${dir}/depends)
  set_property(GLOBAL APPEND PROPERTY VELLUM_DEB_SHLIBDEPS "${c}=${dir}/depends")
endfunction()
