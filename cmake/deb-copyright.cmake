# cmake -DLICENSE=LICENSE -DOUTPUT=.../copyright -DUPSTREAM_NAME=vellum
#       -DCONTACT="name <address>" -P deb-copyright.cmake
#
# Writes a package's copyright file in Debian's machine-readable format
# (DEP-5, copyright-format 1.0) from the project's LICENSE: the licence's
# title line names it (its DEP-5 short name from the table below), the
# "Copyright ..." lines are the copyright statement, and the rest, from the
# first paragraph after them, is the licence text, quoted whole.

cmake_minimum_required(VERSION 3.25)

foreach(var LICENSE OUTPUT UPSTREAM_NAME CONTACT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "deb-copyright.cmake: -D${var}=... is required")
  endif()
endforeach()

# The first line of LICENSE, and the licence's short name in DEP-5
# (the copyright-format 1.0 document at www.debian.org, its licence short names).
# DEP-5 calls the MIT licence (SPDX "MIT") Expat.
set(known_titles "MIT License")
set(short_names "Expat")

include(${CMAKE_CURRENT_LIST_DIR}/text-lines.cmake)
text_lines("${LICENSE}" lines)
get_filename_component(name "${LICENSE}" NAME)

list(POP_FRONT lines title)
list(FIND known_titles "${title}" i)
if(i LESS 0)
  message(FATAL_ERROR "${name}: the first line '${title}' names no licence known to "
    "cmake/deb-copyright.cmake (${known_titles}): add its DEP-5 short name there")
endif()
list(GET short_names ${i} short_name)

# Blank lines, the "Copyright" lines, blank lines: the rest is the text.
set(copyright "")
set(body "")
set(state before)
foreach(line IN LISTS lines)
  if(state STREQUAL before OR state STREQUAL notices)
    if(line MATCHES "^Copyright[ :]+(.+)$")
      string(APPEND copyright "\n ${CMAKE_MATCH_1}")
      set(state notices)
      continue()
    elseif(line STREQUAL "")
      continue()
    elseif(state STREQUAL before)
      message(FATAL_ERROR "${name}: no 'Copyright YEAR HOLDER' line after the title")
    endif()
    set(state text)
  endif()
  if(line MATCHES "\t")
    message(FATAL_ERROR "${name}: a tab in the licence text")
  endif()
  if(line STREQUAL "")
    string(APPEND body "\n .")
  else()
    string(APPEND body "\n ${line}")
  endif()
endforeach()
if(body STREQUAL "")
  message(FATAL_ERROR "${name}: no licence text after the copyright lines")
endif()
# One statement stays on the field's line; more go on continuation lines.
string(REGEX REPLACE "^\n ([^\n]*)$" " \\1" copyright "${copyright}")

set(out "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${UPSTREAM_NAME}
Upstream-Contact: ${CONTACT}
Comment: Made from ${name} at the top of the ${UPSTREAM_NAME} source tree.

Files: *
Copyright:${copyright}
License: ${short_name}

License: ${short_name}${body}
")
text_from_lines(out)
file(WRITE "${OUTPUT}" "${out}")
