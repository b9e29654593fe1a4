# Read by cpack before it makes the packages (CPACK_PROJECT_CONFIG_FILE).
#
# Each package's description starts with its own summary line
# (vellum_deb_component's SUMMARY, in CPACK_DEBIAN_<COMPONENT>_DESCRIPTION).
# CPackDeb would put the project's summary, CPACK_PACKAGE_DESCRIPTION_SUMMARY
# (taken from project()'s DESCRIPTION), in front of every one of them.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)

# A shared-library package's Depends, found by dpkg-shlibdeps at build time
# (vellum_deb_component's SHARED_LIBRARY): COMPONENT=file pairs.
foreach(entry IN LISTS CPACK_VELLUM_SHLIBDEPS)
  string(REGEX MATCH "^([^=]+)=(.*)$" pair "${entry}")
  set(var CPACK_DEBIAN_${CMAKE_MATCH_1}_PACKAGE_DEPENDS)
  if(NOT EXISTS "${CMAKE_MATCH_2}")
    message(FATAL_ERROR "${CMAKE_MATCH_2} is missing: build before packaging")
  endif()
  file(READ "${CMAKE_MATCH_2}" depends)
  if(${var})
    set(${var} "${depends}, ${${var}}")
  else()
    set(${var} "${depends}")
  endif()
endforeach()
