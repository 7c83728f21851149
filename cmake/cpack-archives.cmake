# Run by cpack after it has made the packages of one generator, before it copies them into the
# build folder (CPACK_POST_BUILD_SCRIPTS).
#
# CPack 3.25 leaves parts of its packages to the file system and to the user who packs them: the
# .tar.gz and the .zip hold their members in the order in which the file system lists the staging
# folder, owned by that user; the .deb's Installed-Size adds up the sizes that the file system
# gives its folders (4096 bytes each on ext4, less on tmpfs or btrfs), and the ar archive around
# its two tar archives gives them the mode that the umask left on CPack's files. So that every
# build packs the same bytes, the packages are written again here from the same staged files:
#   .tar.gz  GNU tar: members sorted by name, owned by root (0:0), every time SOURCE_DATE_EPOCH;
#            gzip without file name or time stamp
#   .zip     Info-ZIP zip: members sorted by name, without folder entries and without extra
#            fields (-X: no owner, no Unix times); the one time that a member keeps, in MS-DOS
#            form, is SOURCE_DATE_EPOCH in UTC
#   .deb     data.tar.gz as CPack wrote it (sorted, owned by root); control.tar.gz with the
#            Installed-Size that dpkg-gencontrol would count (each file in KiB, rounded up, and 1
#            for each folder); the ar archive with its members rw-r--r--, owned by root, as
#            dpkg-deb writes them

# Set by cmake/cpack-project-config.cmake when the environment does not set it.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")

# Pads VALUE with spaces to WIDTH characters, for the fields of an ar header.
function(corvandel_ar_field out value width)
  string(LENGTH "${value}" length)
  math(EXPR padding "${width} - ${length}")
  string(REPEAT " " ${padding} spaces)
  set(${out} "${value}${spaces}" PARENT_SCOPE)
endfunction()

# Writes the .deb PACKAGE again from the parts that CPack left in its staging folder.
function(corvandel_write_deb package)
  set(stage "${CPACK_TEMPORARY_DIRECTORY}")

  # Installed-Size: the files and folders of the data archive, i.e. the folders of the stage.
  set(kib 0)
  file(GLOB tops LIST_DIRECTORIES true "${stage}/*")
  foreach(top IN LISTS tops)
    if(IS_DIRECTORY "${top}")
      file(GLOB_RECURSE entries LIST_DIRECTORIES true "${top}/*")
      foreach(entry IN ITEMS "${top}" ${entries})
        if(IS_DIRECTORY "${entry}" OR IS_SYMLINK "${entry}")
          math(EXPR kib "${kib} + 1")
        else()
          file(SIZE "${entry}" bytes)
          math(EXPR kib "${kib} + (${bytes} + 1023) / 1024")
        endif()
      endforeach()
    endif()
  endforeach()
  file(READ "${stage}/control" control)
  if(NOT control MATCHES "(^|\n)Installed-Size: [0-9]+\n")
    message(FATAL_ERROR "No Installed-Size in CPack's control file ${stage}/control")
  endif()
  string(REGEX REPLACE "(^|\n)Installed-Size: [0-9]+\n" "\\1Installed-Size: ${kib}\n" control
         "${control}")
  set(parts "${CPACK_TOPLEVEL_DIRECTORY}/deb-parts")
  file(REMOVE_RECURSE "${parts}")
  file(MAKE_DIRECTORY "${parts}/control")
  file(WRITE "${parts}/control/control" "${control}")
  file(COPY_FILE "${stage}/md5sums" "${parts}/control/md5sums")
  execute_process(
    COMMAND "${CORVANDEL_TAR}" --create --file=- --format=gnu --sort=name "--mtime=@${epoch}"
            --owner=root:0 --group=root:0 --mode=0644 -C "${parts}/control" ./control ./md5sums
    COMMAND "${CORVANDEL_GZIP}" -9 -n
    OUTPUT_FILE "${parts}/control.tar.gz" COMMAND_ERROR_IS_FATAL ANY)

  # The ar archive: the magic, then for each member a header of ASCII fields, name (16
  # characters), time (12), owner (6), group (6), mode in octal (8), size (10) and "`\n", and the
  # member's bytes, padded with "\n" to an even length.
  file(WRITE "${parts}/magic" "!<arch>\n")
  file(WRITE "${parts}/padding" "\n")
  set(pieces "${parts}/magic")
  foreach(member IN ITEMS "${stage}/debian-binary" "${parts}/control.tar.gz"
                          "${stage}/data.tar.gz")
    cmake_path(GET member FILENAME name)
    file(SIZE "${member}" size)
    corvandel_ar_field(name_field "${name}" 16)
    corvandel_ar_field(time_field "${epoch}" 12)
    corvandel_ar_field(owner_field 0 6)
    corvandel_ar_field(mode_field 100644 8)
    corvandel_ar_field(size_field "${size}" 10)
    file(WRITE "${parts}/${name}.header"
         "${name_field}${time_field}${owner_field}${owner_field}${mode_field}${size_field}`\n")
    list(APPEND pieces "${parts}/${name}.header" "${member}")
    math(EXPR odd "${size} % 2")
    if(odd)
      list(APPEND pieces "${parts}/padding")
    endif()
  endforeach()
  execute_process(COMMAND cat ${pieces} OUTPUT_FILE "${package}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# The members at the top of the archive, as names relative to the folder ROOT.
if(CPACK_INCLUDE_TOPLEVEL_DIRECTORY)
  cmake_path(GET CPACK_TEMPORARY_DIRECTORY PARENT_PATH root)
  cmake_path(GET CPACK_TEMPORARY_DIRECTORY FILENAME members)
else()
  set(root "${CPACK_TEMPORARY_DIRECTORY}")
  file(GLOB members LIST_DIRECTORIES true RELATIVE "${root}" "${root}/*")
endif()

find_program(CORVANDEL_TAR tar REQUIRED)
find_program(CORVANDEL_GZIP gzip REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.tar\\.gz$")
    execute_process(
      COMMAND "${CORVANDEL_TAR}" --create --file=- --format=gnu --sort=name "--mtime=@${epoch}"
              --owner=root:0 --group=root:0 -C "${root}" ${members}
      COMMAND "${CORVANDEL_GZIP}" -9 -n
      OUTPUT_FILE "${package}" COMMAND_ERROR_IS_FATAL ANY)
  elseif(package MATCHES "\\.zip$")
    find_program(CORVANDEL_ZIP zip)
    if(NOT CORVANDEL_ZIP)
      message(FATAL_ERROR "Info-ZIP's zip (Debian package zip) writes the .zip; it is missing")
    endif()
    set(files "")
    foreach(member IN LISTS members)
      if(IS_DIRECTORY "${root}/${member}")
        file(GLOB_RECURSE inside LIST_DIRECTORIES false RELATIVE "${root}" "${root}/${member}/*")
        list(APPEND files ${inside})
      else()
        list(APPEND files "${member}")
      endif()
    endforeach()
    list(SORT files)
    execute_process(COMMAND touch --no-dereference "--date=@${epoch}" ${files}
                    WORKING_DIRECTORY "${root}" COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE "${package}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env TZ=UTC0
                            "${CORVANDEL_ZIP}" -X -D -q "${package}" ${files}
                    WORKING_DIRECTORY "${root}" COMMAND_ERROR_IS_FATAL ANY)
  elseif(package MATCHES "\\.deb$")
    corvandel_write_deb("${package}")
  endif()
endforeach()
