# The Debian package: cmake --preset package && cmake --build --preset package --target package
# (or `make package`) gives build/package/plovix_<version>_<arch>.deb.
# Only the package preset turns this on, so other builds never run the program at build time.
option(PLOVIX_PACKAGE "Build the Debian package (man pages, systemd units, CPack)" OFF)

if(NOT PLOVIX_PACKAGE OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR NOT TARGET Plovix)
  return()
endif()

# The programs look for HELP.TXT in the data folder compiled in from the install prefix;
# packaged under any other prefix they would not find it.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "The Debian package needs -DCMAKE_INSTALL_PREFIX=/usr (it is ${CMAKE_INSTALL_PREFIX})")
endif()

set(PLOVIX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

# Man pages from each program's own --man-page, so they never drift from the options.
set(plovix_man_pages)
foreach(program Plovix Plovix-demo)
  if(TARGET ${program})
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DOUT=${page}
              -P ${PLOVIX_PACKAGING_DIR}/man-page.cmake
      DEPENDS ${program} ${PLOVIX_PACKAGING_DIR}/man-page.cmake
      COMMENT "Man page of ${program}")
    list(APPEND plovix_man_pages ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
add_custom_target(man-pages ALL DEPENDS ${plovix_man_pages})

# Hourly SMART metrics for node_exporter's textfile collector; shipped, never enabled.
set(PLOVIX_HELPER_DIR ${CMAKE_INSTALL_PREFIX}/lib/plovix)
set(PLOVIX_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/Plovix)
configure_file(${PLOVIX_PACKAGING_DIR}/plovix-prometheus.service.in
               ${CMAKE_BINARY_DIR}/systemd/plovix-prometheus.service @ONLY)
configure_file(${PLOVIX_PACKAGING_DIR}/plovix-prometheus.in
               ${CMAKE_BINARY_DIR}/systemd/plovix-prometheus @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/systemd/plovix-prometheus.service
              ${PLOVIX_PACKAGING_DIR}/plovix-prometheus.timer
        DESTINATION /lib/systemd/system)
install(PROGRAMS ${CMAKE_BINARY_DIR}/systemd/plovix-prometheus DESTINATION lib/plovix)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plovix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Plovix")
set(CPACK_PACKAGE_CONTACT "Plovix maintainers <maintainers@users.noreply.c-seed-501b0136.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hard-disk diagnostic for the terminal")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME plovix)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS prometheus-node-exporter)
# The long description; CPack puts the summary line first and indents the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Plovix lists the machine's ATA, SATA-behind-USB and NVMe drives, reads
their SMART attributes and verdict, runs their short and extended
self-tests and surface scans, and erases a drive's MBR or the whole disk.

Plovix-demo runs the same program on simulated drives. A systemd timer,
off until enabled, publishes the drives' SMART metrics for node_exporter.")
# dpkg-shlibdeps (dpkg-dev, with file) gives the exact library versions; without it, the
# libraries the programs link, unversioned.
find_program(PLOVIX_SHLIBDEPS dpkg-shlibdeps)
find_program(PLOVIX_FILE file)
if(PLOVIX_SHLIBDEPS AND PLOVIX_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libncursesw6, libtinfo6")
endif()

include(CPack)
