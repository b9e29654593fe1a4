# cmake -DCHANGELOG=CHANGELOG.md -DOUTPUT=.../changelog.gz -DSOURCE=vellum
#       -DVERSION=1.0.0 -DMAINTAINER="name <address>" -DGZIP=/usr/bin/gzip
#       -P deb-changelog.cmake
#
# Turns the project's CHANGELOG.md into a Debian changelog (the format of
# deb-changelog(5) that lintian parses) and compresses it with gzip -9n
# (maximum compression, no name or time stamp: the same bytes on every
# build). Each release section
#
#   ## 1.0.0 - 2026-12-09
#
#   - A change, its further lines
#     indented by two blanks.
#
# becomes one entry
#
#   vellum (1.0.0) stable; urgency=medium
#
#     * A change, its further lines
#       indented by two blanks.
#
#    -- vellum maintainers <vellum-maintainers@hmd-platform.dev>  Wed, 09 Dec 2026 00:00:00 +0000
#
# Text before the first release heading is the file's introduction and is
# left out. Anything the format cannot say fails the build, naming the line:
# a heading that is no release, a release without items, the newest release
# not being VERSION, a version given twice, dates out of order, a line of the
# result longer than 80 characters.

cmake_minimum_required(VERSION 3.25)

foreach(var CHANGELOG OUTPUT SOURCE VERSION MAINTAINER GZIP)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "deb-changelog.cmake: -D${var}=... is required")
  endif()
endforeach()
if(NOT OUTPUT MATCHES "\\.gz$")
  message(FATAL_ERROR "deb-changelog.cmake: OUTPUT must end in .gz, not ${OUTPUT}")
endif()
if(NOT DEFINED DISTRIBUTION)
  set(DISTRIBUTION stable)
endif()

set(weekdays Thu Fri Sat Sun Mon Tue Wed)  # 1970-01-01 was a Thursday
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)

# "Wed, 09 Dec 2026 00:00:00 +0000" for year, month and day (no leading
# zeros); fails on a day the calendar does not have.
function(rfc5322_date year month day where out)
  set(mdays 31 28 31 30 31 30 31 31 30 31 30 31)
  math(EXPR by4 "${year} % 4")
  math(EXPR by100 "${year} % 100")
  math(EXPR by400 "${year} % 400")
  set(leap OFF)
  if((by4 EQUAL 0 AND NOT by100 EQUAL 0) OR by400 EQUAL 0)
    set(leap ON)
  endif()
  if(month LESS 1 OR month GREATER 12)
    message(FATAL_ERROR "${where}: no month ${month}")
  endif()
  math(EXPR i "${month} - 1")
  list(GET mdays ${i} last)
  if(month EQUAL 2 AND leap)
    set(last 29)
  endif()
  if(day LESS 1 OR day GREATER last)
    message(FATAL_ERROR "${where}: month ${month} of ${year} has no day ${day}")
  endif()
  # Days since 1970-01-01 (H. Hinnant's days_from_civil), for the weekday.
  set(y ${year})
  if(month LESS_EQUAL 2)
    math(EXPR y "${y} - 1")
    math(EXPR mp "${month} + 9")
  else()
    math(EXPR mp "${month} - 3")
  endif()
  math(EXPR era "${y} / 400")
  math(EXPR yoe "${y} - ${era} * 400")
  math(EXPR doy "(153 * ${mp} + 2) / 5 + ${day} - 1")
  math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy}")
  math(EXPR days "${era} * 146097 + ${doe} - 719468")
  math(EXPR wd "((${days} % 7) + 7) % 7")
  list(GET weekdays ${wd} wdname)
  list(GET months ${i} mname)
  if(day LESS 10)
    set(day "0${day}")
  endif()
  set(${out} "${wdname}, ${day} ${mname} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# The file as a list of lines (cmake/text-lines.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/text-lines.cmake)
text_lines("${CHANGELOG}" lines)

get_filename_component(name "${CHANGELOG}" NAME)
set(out "")
set(release "")       # version of the release being read
set(items 0)          # its items so far
set(seen_versions "")
set(previous_date "")
set(n 0)

macro(emit line)
  set(_line "${line}")
  string(LENGTH "${_line}" _len)
  if(_len GREATER 80)
    message(FATAL_ERROR "${name}:${n}: makes a changelog line of ${_len} characters, "
      "more than 80: break it (78 at most in ${name})")
  endif()
  string(APPEND out "${_line}\n")
endmacro()

macro(close_release)
  if(NOT release STREQUAL "")
    if(items EQUAL 0)
      message(FATAL_ERROR "${name}: release ${release} lists no change ('- ' items)")
    endif()
    string(APPEND out "\n -- ${MAINTAINER}  ${release_date}\n")
  endif()
endmacro()

foreach(line IN LISTS lines)
  math(EXPR n "${n} + 1")
  if(line MATCHES "\t")
    message(FATAL_ERROR "${name}:${n}: a tab; indent with blanks")
  endif()
  if(line MATCHES " $")
    message(FATAL_ERROR "${name}:${n}: trailing blanks")
  endif()
  if(line MATCHES "^##")
    if(NOT line MATCHES "^## ([0-9][0-9A-Za-z.+~]*) - ([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
      message(FATAL_ERROR "${name}:${n}: a release heading is '## VERSION - YYYY-MM-DD', "
        "not '${line}'")
    endif()
    set(version ${CMAKE_MATCH_1})
    set(date "${CMAKE_MATCH_2}-${CMAKE_MATCH_3}-${CMAKE_MATCH_4}")
    math(EXPR year "${CMAKE_MATCH_2}")
    math(EXPR month "1${CMAKE_MATCH_3} - 100")
    math(EXPR day "1${CMAKE_MATCH_4} - 100")
    if(version IN_LIST seen_versions)
      message(FATAL_ERROR "${name}:${n}: release ${version} is listed twice")
    endif()
    if(NOT previous_date STREQUAL "" AND date STRGREATER previous_date)
      message(FATAL_ERROR "${name}:${n}: release ${version} of ${date} comes after one "
        "of ${previous_date}: the newest release goes first")
    endif()
    if(release STREQUAL "" AND NOT version STREQUAL VERSION)
      message(FATAL_ERROR "${name}:${n}: the newest release is ${version}, but the "
        "package is ${VERSION} (project() in CMakeLists.txt): add its section on top")
    endif()
    close_release()
    if(NOT release STREQUAL "")
      string(APPEND out "\n")
    endif()
    rfc5322_date(${year} ${month} ${day} "${name}:${n}" release_date)
    set(release ${version})
    set(items 0)
    set(previous_date ${date})
    list(APPEND seen_versions ${version})
    emit("${SOURCE} (${version}) ${DISTRIBUTION}; urgency=medium")
    string(APPEND out "\n")
  elseif(release STREQUAL "" OR line STREQUAL "")
    # the introduction, or a blank line between items
  elseif(line MATCHES "^- (.+)$")
    if(items EQUAL 0)
      set(first_item ${n})
    endif()
    math(EXPR items "${items} + 1")
    emit("  * ${CMAKE_MATCH_1}")
  elseif(line MATCHES "^  (.+)$" AND items GREATER 0)
    emit("    ${CMAKE_MATCH_1}")
  else()
    message(FATAL_ERROR "${name}:${n}: in a release, a line is a '- ' item or one of "
      "its further lines, indented by two blanks: '${line}'")
  endif()
endforeach()
if(release STREQUAL "")
  message(FATAL_ERROR "${name}: no release ('## VERSION - YYYY-MM-DD')")
endif()
close_release()

text_from_lines(out)

# Written next to OUTPUT uncompressed (to read), then compressed into place.
string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
file(WRITE "${plain}" "${out}")
set(INPUT "${plain}")
include(${CMAKE_CURRENT_LIST_DIR}/gzip-9n.cmake)
