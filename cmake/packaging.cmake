# What `cmake --install` puts in place and what `cpack` packs: the programs
# with a manual page each (Linux: a .tar.gz and a .deb), or the .exe files
# with the sysop's text (Windows: a .zip).  Test programs, tools and
# benchmarks are never installed.

# The shipped programs: every program of the build (VLM_PROGRAMS), each a
# target of the same name with its manual page in doc/<program>.1.
set(VLM_SHIPPED_PROGRAMS ${VLM_PROGRAMS})

# The banners print the version from the code; the packages must carry the
# same one.
file(STRINGS ${PROJECT_SOURCE_DIR}/common/program_frame.h VLM_CODE_VERSION REGEX "kVersion\\[\\] = ")
string(REGEX MATCH "\"([^\"]*)\"" VLM_CODE_VERSION "${VLM_CODE_VERSION}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "The banners say version \"${CMAKE_MATCH_1}\" (common/program_frame.h), "
                      "the build ${PROJECT_VERSION} (project() in CMakeLists.txt): make them agree")
endif()

include(GNUInstallDirs)
if(WIN32)
  # A sysop drops the programs next to the board: one flat folder, with the
  # text in the board's own line ends.
  install(TARGETS ${VLM_SHIPPED_PROGRAMS} RUNTIME DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/doc/sysop.txt ${CMAKE_BINARY_DIR}/README.TXT @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.TXT DESTINATION .)
else()
  install(TARGETS ${VLM_SHIPPED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Manual pages go in compressed, as Debian wants them; -n leaves the time
  # stamp out, so a rebuild gives the same bytes.
  find_program(VLM_GZIP gzip REQUIRED)
  set(VLM_MAN_PAGES)
  foreach(program ${VLM_SHIPPED_PROGRAMS})
    set(source ${PROJECT_SOURCE_DIR}/doc/${program}.1)
    if(NOT EXISTS ${source})
      message(FATAL_ERROR "${program} is shipped but has no manual page doc/${program}.1")
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    configure_file(${source} ${CMAKE_BINARY_DIR}/man/source/${program}.1 @ONLY)
    add_custom_command(OUTPUT ${page}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy man/source/${program}.1 man/${program}.1
                       COMMAND ${VLM_GZIP} -9 -n -f man/${program}.1
                       DEPENDS ${CMAKE_BINARY_DIR}/man/source/${program}.1
                       WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                       VERBATIM)
    list(APPEND VLM_MAN_PAGES ${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${VLM_MAN_PAGES})
  install(FILES ${VLM_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME velmora-maintenance)
set(CPACK_PACKAGE_VENDOR Velmora)
set(VLM_PACKAGE_MAINTAINER "Velmora <sysop@velmora.invalid>" CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${VLM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "maintenance programs for the data files of a Velmora bulletin board")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(VLM_PACKAGES ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(VLM_PACKAGES TGZ DEB)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION comm)
  # The long description, below the summary line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Console programs that a sysop runs by hand or from a nightly script to keep
the binary data files of a Velmora board in order: they pack and renumber
the message base, link reply chains, build the fast-find index of the file
areas, compile questionnaires and list the file area directories, and one
that checks the board without changing it and tells what a pack would
remove.")
  # The library dependencies come from the programs themselves when
  # dpkg-shlibdeps (package dpkg-dev) is there to read them.
  find_program(VLM_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(VLM_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
endif()
set(CPACK_GENERATOR ${VLM_PACKAGES})
include(CPack)

# What tools/check_packages.sh expects in the packages and what
# tools/run_sample.sh builds, for the scripts to read.
string(REPLACE ";" " " VLM_SHIPPED_WORDS "${VLM_SHIPPED_PROGRAMS}")
string(REPLACE ";" " " VLM_GENERATOR_WORDS "${VLM_PACKAGES}")
file(WRITE ${CMAKE_BINARY_DIR}/shipped.sh
     "VLM_VERSION='${PROJECT_VERSION}'\n"
     "VLM_SHIPPED_PROGRAMS='${VLM_SHIPPED_WORDS}'\n"
     "VLM_PACKAGES='${VLM_GENERATOR_WORDS}'\n")
