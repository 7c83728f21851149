# Tests of the Windows build, run under CMAKE_CROSSCOMPILING_EMULATOR (Wine) when cross-compiled.

# GoogleTest from its Debian sources (no mingw-w64 package has it), without GoogleMock or our
# warning policy.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(CORVANDEL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
add_subdirectory(${CORVANDEL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)

add_executable(unit_tests unicode_test.cpp platform_win32_test.cpp test_support.cpp)
target_link_libraries(unit_tests PRIVATE corvandel_core gtest_main)
# One CTest test for the whole binary: listing the cases would start Wine once per case.
add_test(NAME windows_unit_tests COMMAND unit_tests)
# The model's data, as Wine names the Linux folder that holds it.
target_compile_definitions(unit_tests PRIVATE CORVANDEL_TEST_DATA="Z:${CMAKE_CURRENT_SOURCE_DIR}/data"
  CORVANDEL_SANITIZED=0)

# What the Wine tests run beside corvandel.exe: a program that holds a list open.
add_executable(hold_file hold_file.cpp)
