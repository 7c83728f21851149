# Hardening that the distributions turn on for their own packages, on every target of the build,
# so that the tests and the benchmark exercise the code as it ships. Each flag is used only when
# the compiler or linker accepts it.
#
# Linux (ELF):
#   -D_FORTIFY_SOURCE=3  glibc checks the size of the buffer that memcpy, strcpy, snprintf and the
#                        like write to wherever the compiler can tell it (level 2 where the
#                        compiler or glibc lacks level 3); it needs the optimizer, so only the
#                        optimized configurations get it
#   -fstack-protector-strong, -fstack-clash-protection
#                        a canary in every function with local arrays or taken addresses; stack
#                        frames grown a page at a time, so that no frame jumps a guard page
#   -fcf-protection      end-branch markers for processors with control-flow enforcement
#   PIE, -z relro -z now the program is position independent, and every symbol is bound at start,
#                        so that the whole relocation table is read-only before main() runs
# Windows (mingw-w64, PE):
#   ASLR with high entropy and NX are the linker's defaults; they are asked for explicitly, so that
#   an older linker does not drop them. -fstack-protector-strong and -D_FORTIFY_SOURCE=2 (the
#   highest level that mingw-w64's headers know) come from libssp, linked in statically; its random
#   canary makes the .exe import ADVAPI32.dll, which every Windows has.
#
# The sanitizer presets (asan, fuzz) build with CORVANDEL_HARDENING=OFF: AddressSanitizer does not
# intercept glibc's fortified functions (__memcpy_chk and the like), so _FORTIFY_SOURCE would hide
# calls from it, and its own checks of the stack cover more than a canary.

option(CORVANDEL_HARDENING "Build with the platform's hardening flags" ON)
if(NOT CORVANDEL_HARDENING)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)
include(CheckPIESupported)

# Adds each compiler flag that the compiler accepts.
function(corvandel_add_compile_flags_if_supported)
  foreach(flag IN LISTS ARGN)
    string(MAKE_C_IDENTIFIER "CORVANDEL_CXX_HAS${flag}" result)
    check_cxx_compiler_flag("${flag}" ${result})
    if(${result})
      add_compile_options("${flag}")
    endif()
  endforeach()
endfunction()

# Adds each linker flag (LINKER:... form) that the linker accepts.
function(corvandel_add_link_flags_if_supported)
  foreach(flag IN LISTS ARGN)
    string(MAKE_C_IDENTIFIER "CORVANDEL_LINKER_HAS_${flag}" result)
    check_linker_flag(CXX "${flag}" ${result})
    if(${result})
      add_link_options("${flag}")
    endif()
  endforeach()
endfunction()

set(optimized_configurations Release,RelWithDebInfo,MinSizeRel)

if(WIN32)
  set(fortify_level 2)
else()
  # Level 3 needs __builtin_dynamic_object_size (g++ 12, clang 9) and glibc 2.34.
  set(CMAKE_REQUIRED_FLAGS "-O2")
  set(CMAKE_REQUIRED_QUIET ON)
  check_cxx_source_compiles([[
    #include <cstring>
    #if !defined(__GLIBC__) || __GLIBC__ < 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ < 34)
    #error "glibc before 2.34 knows no _FORTIFY_SOURCE=3"
    #endif
    #if !defined(__has_builtin) || !__has_builtin(__builtin_dynamic_object_size)
    #error "no __builtin_dynamic_object_size"
    #endif
    int main() {}
  ]] CORVANDEL_HAS_FORTIFY_SOURCE_3)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_QUIET)
  if(CORVANDEL_HAS_FORTIFY_SOURCE_3)
    set(fortify_level 3)
  else()
    set(fortify_level 2)
  endif()
endif()
# A level that the compiler or the flags of a distribution set already is replaced, not redefined.
add_compile_options("$<$<CONFIG:${optimized_configurations}>:-U_FORTIFY_SOURCE>"
                    "$<$<CONFIG:${optimized_configurations}>:-D_FORTIFY_SOURCE=${fortify_level}>")

corvandel_add_compile_flags_if_supported(-fstack-protector-strong)
if(CORVANDEL_CXX_HAS_fstack_protector_strong)
  # At the link too: mingw-w64's driver links libssp only when it sees the flag there.
  add_link_options(-fstack-protector-strong)
endif()

if(WIN32)
  corvandel_add_link_flags_if_supported(LINKER:--dynamicbase LINKER:--high-entropy-va
                                        LINKER:--nxcompat)
else()
  corvandel_add_compile_flags_if_supported(-fstack-clash-protection -fcf-protection)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  check_pie_supported()
  corvandel_add_link_flags_if_supported(LINKER:-z,relro LINKER:-z,now)
endif()
