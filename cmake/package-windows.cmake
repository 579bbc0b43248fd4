# Packs the Windows executables for users: cmake -P with
#   -DSTRIP=<strip> -DPLOVIX=<Plovix.exe> -DDEMO=<Plovix-demo.exe>
#   -DSOURCE=<source dir> -DOUT=<zip>
# The zip holds one folder, Plovix, with stripped executables, HELP.TXT and README.TXT
# (texts with CR LF line ends, as Windows editors expect).
foreach(v STRIP PLOVIX DEMO SOURCE OUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "package-windows: ${v} not given")
  endif()
endforeach()

get_filename_component(work "${OUT}.d" ABSOLUTE)
set(dir "${work}/Plovix")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${dir}")

foreach(exe PLOVIX DEMO)
  get_filename_component(name "${${exe}}" NAME)
  execute_process(COMMAND "${STRIP}" --strip-all -o "${dir}/${name}" "${${exe}}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "package-windows: cannot strip ${${exe}}")
  endif()
endforeach()

foreach(pair "HELP.TXT=HELP.TXT" "faces/win32/res/README.TXT=README.TXT")
  string(REPLACE "=" ";" parts "${pair}")
  list(GET parts 0 from)
  list(GET parts 1 to)
  file(READ "${SOURCE}/${from}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${dir}/${to}" "${text}")
endforeach()

file(REMOVE "${OUT}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${OUT}" --format=zip Plovix
                WORKING_DIRECTORY "${work}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "package-windows: cannot write ${OUT}")
endif()
file(REMOVE_RECURSE "${work}")
