# SOURCE_DATE_EPOCH, the time (seconds since 1970-01-01 UTC) that every time stamp in the packages
# takes, so that two builds of one commit pack the same bytes
# (https://reproducible-builds.org/specs/source-date-epoch/). In this order:
#   1. the environment variable SOURCE_DATE_EPOCH, when it is set;
#   2. the commit time of the checked-out commit, when the sources are a git checkout;
#   3. the date of the newest entry of docs/changelog (a tree without its git history).
#
# The packaging includes this file at cpack time (cmake/cpack-project-config.cmake); run as a
# script, it prints the value for the checkout it belongs to:
#   cmake -P cmake/source-date-epoch.cmake

# Sets OUT to the epoch for the sources in SOURCE_DIR.
function(corvandel_source_date_epoch out source_dir)
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number of seconds: $ENV{SOURCE_DATE_EPOCH}")
    endif()
    set(${out} "$ENV{SOURCE_DATE_EPOCH}" PARENT_SCOPE)
    return()
  endif()

  # .git is a folder in a clone and a file in a worktree.
  find_program(CORVANDEL_GIT git)
  if(CORVANDEL_GIT AND EXISTS "${source_dir}/.git")
    execute_process(COMMAND "${CORVANDEL_GIT}" -C "${source_dir}" log -1 --format=%ct
                    RESULT_VARIABLE failed OUTPUT_VARIABLE epoch ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT failed AND epoch MATCHES "^[0-9]+$")
      set(${out} ${epoch} PARENT_SCOPE)
      return()
    endif()
  endif()

  # The trailer line of a Debian changelog entry ends in an RFC 5322 date:
  #  -- Name <address>  Mon, 07 Dec 2026 00:00:00 +0000
  file(STRINGS "${source_dir}/docs/changelog" trailers REGEX "^ -- ")
  list(GET trailers 0 trailer)
  if(NOT trailer MATCHES
     ">  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([+-])([0-9][0-9])([0-9][0-9])$")
    message(FATAL_ERROR "No date in the first trailer of docs/changelog: ${trailer}")
  endif()
  set(day ${CMAKE_MATCH_1})
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND months ${CMAKE_MATCH_2} month)
  math(EXPR month "${month} + 1")
  set(year ${CMAKE_MATCH_3})
  math(EXPR time_of_day "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
  math(EXPR offset "${CMAKE_MATCH_7}(${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
  # Days since 1970-01-01 of a date in the proleptic Gregorian calendar, counted in years that
  # begin on 1 March, so that the leap day falls at the end of a year.
  if(month LESS_EQUAL 2)
    math(EXPR year "${year} - 1")
    math(EXPR month "${month} + 9")
  else()
    math(EXPR month "${month} - 3")
  endif()
  math(EXPR era "${year} / 400")
  math(EXPR year_of_era "${year} - ${era} * 400")
  math(EXPR day_of_year "(153 * ${month} + 2) / 5 + ${day} - 1")
  math(EXPR day_of_era
       "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
  math(EXPR days "${era} * 146097 + ${day_of_era} - 719468")
  math(EXPR epoch "${days} * 86400 + ${time_of_day} - ${offset}")
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH source_dir)
  corvandel_source_date_epoch(epoch "${source_dir}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${epoch}")
endif()
