# Run by cpack after it has installed the files into its staging folder, before it packs them
# (CPACK_PRE_BUILD_SCRIPTS).
#
# The installation sets the modes of the files it copies, but the folders that it makes take what
# the umask leaves (rwx------ under umask 077). They become rwxr-xr-x, the mode that Debian wants
# and that every build gets alike.
file(CHMOD_RECURSE "${CPACK_TEMPORARY_DIRECTORY}"
     DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                           WORLD_READ WORLD_EXECUTE)
