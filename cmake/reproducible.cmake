# The same sources give the same program, byte for byte, in whatever folder and at whatever time
# they are built ("Verifying a download" in the README; tools/build-packages.sh checks it).
#
# Folders: the compiler writes the names of the source and build folders into the debug
# information, __FILE__ and std::source_location. Both folders are mapped to ".", so that file
# names read ./src/main.cpp, relative to the repository's root, where a debugger started there
# finds them. The build folder comes second, so that it wins where it lies inside the sources (g++
# takes the last matching map, clang the longest).
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)

check_cxx_compiler_flag("-ffile-prefix-map=/a=." CORVANDEL_CXX_HAS_FILE_PREFIX_MAP)
if(CORVANDEL_CXX_HAS_FILE_PREFIX_MAP)
  add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
                      "-ffile-prefix-map=${PROJECT_BINARY_DIR}=.")
endif()

# Time: no source may read the clock of the build (__DATE__, __TIME__, __TIMESTAMP__); the
# warning is an error in the presets.
check_cxx_compiler_flag(-Wdate-time CORVANDEL_CXX_HAS_WDATE_TIME)
if(CORVANDEL_CXX_HAS_WDATE_TIME)
  add_compile_options(-Wdate-time)
endif()

# The Windows linker writes the time of the link into the .exe's header, unless told not to (the
# field is then 0; Windows itself does not read it).
if(WIN32)
  check_linker_flag(CXX LINKER:--no-insert-timestamp CORVANDEL_LINKER_HAS_NO_INSERT_TIMESTAMP)
  if(CORVANDEL_LINKER_HAS_NO_INSERT_TIMESTAMP)
    add_link_options(LINKER:--no-insert-timestamp)
  endif()
endif()

# The time stamps in the packages come from SOURCE_DATE_EPOCH at cpack time: see
# cmake/packaging.cmake and cmake/source-date-epoch.cmake.
