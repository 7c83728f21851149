# What the packages hold and how CPack makes them: a .zip from the Windows build; a .tar.gz and
# a .deb from the Linux build. The documents that the packages need in another form are made at
# build time from the ones the project keeps, so that each text is written once.

set(CORVANDEL_CONTACT "The corvandel developers <corvandel@lists.corvandel.org>")
set(generated "${PROJECT_BINARY_DIR}/packaging")

if(WIN32)
  # Plain text with CR LF line ends, which every Windows editor shows as lines.
  foreach(pair "docs/README-windows.txt;README.txt" "LICENSE;LICENSE.txt")
    list(GET pair 0 source)
    list(GET pair 1 name)
    configure_file(${source} "${generated}/${name}" @ONLY NEWLINE_STYLE CRLF)
    install(FILES "${generated}/${name}" DESTINATION .)
  endforeach()
  install(TARGETS corvandel RUNTIME DESTINATION .)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvandel)
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

  # The copyright file in Debian's machine-readable format, around the licence text.
  file(STRINGS LICENSE licence_lines)
  list(FILTER licence_lines EXCLUDE REGEX "^(MIT License|Copyright .*)$")
  set(licence "")
  foreach(line IN LISTS licence_lines)
    if(line STREQUAL "")
      string(APPEND licence " .\n")
    else()
      string(APPEND licence " ${line}\n")
    endif()
  endforeach()
  string(REGEX REPLACE "^ \\.\n( \\.\n)*" "" licence "${licence}")
  file(WRITE "${generated}/copyright"
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: corvandel\nUpstream-Contact: ${CORVANDEL_CONTACT}\n\n"
       "Files: *\nCopyright: 2026 The corvandel developers\nLicense: Expat\n\n"
       "License: Expat\n${licence}")

  # The manual page and the changelog, compressed as Debian wants them (no time stamp).
  configure_file(docs/corvandel.1.in "${generated}/corvandel.1" @ONLY)
  find_program(GZIP gzip REQUIRED)
  foreach(file corvandel.1 changelog)
    set(source "${generated}/${file}")
    if(file STREQUAL "changelog")
      set(source "${PROJECT_SOURCE_DIR}/docs/changelog")
    endif()
    add_custom_command(OUTPUT "${generated}/${file}.gz"
                       COMMAND ${GZIP} -9 -n -c "${source}" > "${generated}/${file}.gz"
                       DEPENDS "${source}" VERBATIM)
    list(APPEND compressed "${generated}/${file}.gz")
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})

  install(TARGETS corvandel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The installed program goes without the compilers' version notes (.comment, which the C
  # runtime's start files bring too), as Debian's own packages do.
  if(CMAKE_OBJCOPY)
    install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:corvandel>\"
      COMMAND_ERROR_IS_FATAL ANY)")
  endif()
  install(FILES "${generated}/corvandel.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md "${generated}/copyright" "${generated}/changelog.gz"
          DESTINATION ${doc_dir})

  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORVANDEL_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The extended description below the summary; CPack indents its lines.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "corvandel merges the words of an update file into a reduced word list, then
the reduced list into a master word list. Each list is rewritten as the sorted
set of its distinct words in upper case (Unicode full case mapping), and the
version it replaces is kept as a time-stamped backup. The lists are replaced
safely: a list's name always holds either its whole old or its whole new
content, and no backup is ever overwritten.")
endif()

set(CPACK_PACKAGE_VENDOR "The corvandel developers")
set(CPACK_PACKAGE_CONTACT "${CORVANDEL_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps two dictionary word lists up to date from an update file")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

# The same commit packs the same bytes (README, "Verifying a download"). At cpack time:
# cmake/cpack-project-config.cmake sets SOURCE_DATE_EPOCH, from which CPack takes the time stamps
# of all it writes; cmake/cpack-staged-files.cmake gives the staged folders a fixed mode; and
# cmake/cpack-archives.cmake writes the packages again where CPack leaves their bytes to the file
# system or to the user who packs them.
set(CPACK_CORVANDEL_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/cpack-project-config.cmake")
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/cpack-staged-files.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/cpack-archives.cmake")
include(CPack)
