# Writes a manual page from its template, with the program's own --help text
# in place of @USAGE@.
#   cmake -DPROGRAM=... -DPAGE=page.1.in -DOUT=page.1 -P man_page.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE usage RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR usage STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed: ${status}")
endif()
# Verbatim in troff: backslashes escaped, hyphens as hyphens (so that options
# copied from the page work), no line taken for a request.
string(REPLACE "\\" "\\e" usage "${usage}")
string(REPLACE "-" "\\-" usage "${usage}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" usage "${usage}")
string(REGEX REPLACE "\n$" "" usage "${usage}")
file(READ ${PAGE} page)
string(REPLACE "@USAGE@" "${usage}" page "${page}")
file(WRITE ${OUT} "${page}")
