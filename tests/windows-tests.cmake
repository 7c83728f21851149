# Tests of the Windows build. When cross-compiled they run under CMAKE_CROSSCOMPILING_EMULATOR
# (Wine), which CTest puts in front of every test command that names a target.

# GoogleTest is built from its Debian sources with the cross compiler (no package of it exists
# for mingw-w64).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(CORVANDEL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
add_subdirectory(${CORVANDEL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its own sources are not ours to hold to our warning policy.
foreach(gtest_target gtest gtest_main gmock gmock_main)
  set_target_properties(${gtest_target} PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
endforeach()

# The word-list and end-to-end tests drive processes through the POSIX runner; corvandel.exe is
# run end to end by wine_end_to_end_test.cpp, from the Linux build.
add_executable(unit_tests unicode_test.cpp platform_win32_test.cpp)
target_link_libraries(unit_tests PRIVATE corvandel_core GTest::gmock GTest::gtest_main)
# One CTest test for the whole binary: listing the cases would start Wine once per case.
add_test(NAME windows_unit_tests COMMAND unit_tests)
