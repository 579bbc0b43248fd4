# Runs PROGRAM --man-page and writes its output to OUT compressed with gzip -9n (no name
# or time stamp, so the same page gives the same bytes).
# Usage: cmake -DPROGRAM=<exe> -DOUT=<file.1.gz> -P man-page.cmake
set(page ${OUT}.tmp)
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
# No terminal and a time limit: a program that ignored the option would open its dialogs.
execute_process(COMMAND ${PROGRAM} --man-page
                INPUT_FILE /dev/null OUTPUT_FILE ${page} RESULT_VARIABLE rc TIMEOUT 10)
if(NOT rc STREQUAL "0")
  message(FATAL_ERROR "${PROGRAM} --man-page failed: ${rc}")
endif()
file(STRINGS ${page} title REGEX "^\\.TH ")
if(NOT title)
  message(FATAL_ERROR "${PROGRAM} --man-page printed no .TH line")
endif()
execute_process(COMMAND gzip -9n -c ${page} OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc STREQUAL "0")
  file(REMOVE ${OUT})
  message(FATAL_ERROR "gzip failed: ${rc}")
endif()
file(REMOVE ${page})
