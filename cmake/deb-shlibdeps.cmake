# cmake -DLIBRARY=.../libvellum.so.0.0.0 -DOUTPUT=.../depends
#       [-DSEARCH_DIRS=/usr/aarch64-linux-gnu/lib] -P deb-shlibdeps.cmake
#
# Writes the Depends of the package that holds LIBRARY as dpkg-shlibdeps
# finds them from the libraries it needs ("libc6 (>= 2.33)"), as CPack does
# for the packages it scans itself; SEARCH_DIRS are where a cross build's
# libraries are (dpkg-shlibdeps -l). dpkg-shlibdeps wants a source tree
# (debian/control): an empty one is made beside OUTPUT.

cmake_minimum_required(VERSION 3.25)

foreach(var LIBRARY OUTPUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "deb-shlibdeps.cmake: -D${var}=... is required")
  endif()
endforeach()
find_program(SHLIBDEPS dpkg-shlibdeps REQUIRED)

get_filename_component(dir "${OUTPUT}" DIRECTORY)
set(tree "${dir}/shlibdeps")
file(REMOVE_RECURSE "${tree}")
file(WRITE "${tree}/debian/control" "")
set(options "")
foreach(search IN LISTS SEARCH_DIRS)
  list(APPEND options "-l${search}")
endforeach()
execute_process(COMMAND "${SHLIBDEPS}" ${options} -O "${LIBRARY}"
  WORKING_DIRECTORY "${tree}"
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
  OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REMOVE_RECURSE "${tree}")
if(NOT status EQUAL 0 OR NOT out MATCHES "^shlibs:Depends=(.+)$")
  message(FATAL_ERROR "dpkg-shlibdeps ${LIBRARY} failed (${status}): ${out}${err}")
endif()
file(WRITE "${OUTPUT}" "${CMAKE_MATCH_1}")
