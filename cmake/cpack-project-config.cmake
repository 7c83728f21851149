# Read by cpack before it makes each package (CPACK_PROJECT_CONFIG_FILE).
#
# CPack takes every time stamp that it writes (of the archives' members, of the .deb's parts, in
# the gzip headers) from the environment variable SOURCE_DATE_EPOCH. When the environment does not
# set it, it is set here, for this cpack process only, to the time of the commit
# (cmake/source-date-epoch.cmake).
include("${CPACK_CORVANDEL_SOURCE_DIR}/cmake/source-date-epoch.cmake")
corvandel_source_date_epoch(epoch "${CPACK_CORVANDEL_SOURCE_DIR}")
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
