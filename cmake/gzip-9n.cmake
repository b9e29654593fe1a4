# cmake -DINPUT=file -DOUTPUT=file.gz -DGZIP=/usr/bin/gzip -P gzip-9n.cmake
#
# Compresses INPUT into OUTPUT as Debian wants a packaged manual page or
# changelog: gzip -9n, the best compression and neither the file's name nor
# a time stamp in the header, so that every build gives the same bytes.

cmake_minimum_required(VERSION 3.25)

foreach(var INPUT OUTPUT GZIP)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "gzip-9n.cmake: -D${var}=... is required")
  endif()
endforeach()
execute_process(COMMAND "${GZIP}" -9n -c "${INPUT}"
  OUTPUT_FILE "${OUTPUT}.tmp" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}.tmp")
  message(FATAL_ERROR "${GZIP} -9n failed on ${INPUT}: ${status}")
endif()
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
