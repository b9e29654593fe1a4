# A text file as a CMake list of its lines, and back. Semicolons and
# brackets would confuse CMake's lists: they travel as control characters
# while the text is a list, and are put back by text_from_lines.
string(ASCII 26 _text_semi)
string(ASCII 28 _text_lbr)
string(ASCII 29 _text_rbr)

# The lines of `file` (trailing newlines dropped) in `out`.
function(text_lines file out)
  file(READ "${file}" text)
  string(REPLACE ";" "${_text_semi}" text "${text}")
  string(REPLACE "[" "${_text_lbr}" text "${text}")
  string(REPLACE "]" "${_text_rbr}" text "${text}")
  string(REGEX REPLACE "\n+$" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# Text built from such lines, with its semicolons and brackets put back.
function(text_from_lines var)
  set(text "${${var}}")
  string(REPLACE "${_text_semi}" ";" text "${text}")
  string(REPLACE "${_text_lbr}" "[" text "${text}")
  string(REPLACE "${_text_rbr}" "]" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()
