# Decides which optional parts of the tree (tests, benchmarks, fuzzers) are
# built from the dependencies found, and says in one configure line why a part
# is off. It finds nothing itself; the caller runs the find_package calls.

# hbafw_optional_part(SWITCH LABEL [FOUND_VARIABLE "what to install"]...)
# SWITCH is AUTO, ON or OFF. Sets SWITCH_ENABLED in the caller's scope. AUTO
# turns the part off when something is missing; ON makes a missing dependency
# an error, so scripts that rely on the part fail loudly instead of skipping it.
function(hbafw_optional_part switch label)
  set(missing "")
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs found_variable what)
    if(NOT ${found_variable})
      list(APPEND missing "${what}")
    endif()
  endwhile()
  list(JOIN missing ", " missing_text)
  string(TOUPPER "${${switch}}" mode)
  if(mode STREQUAL "OFF" OR mode STREQUAL "FALSE" OR mode STREQUAL "NO" OR mode STREQUAL "0")
    set(enabled OFF)
    message(STATUS "hbafw: ${label} off (${switch}=OFF)")
  elseif(missing)
    if(NOT mode STREQUAL "AUTO")
      message(FATAL_ERROR "hbafw: ${label} requested (${switch}=${${switch}}) but missing: ${missing_text}")
    endif()
    set(enabled OFF)
    message(STATUS "hbafw: ${label} off, missing: ${missing_text}")
  else()
    set(enabled ON)
  endif()
  set(${switch}_ENABLED ${enabled} PARENT_SCOPE)
endfunction()

# The fuzz targets need clang's libFuzzer; a GCC tree cannot build them.
function(hbafw_require_fuzzer)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer")
  check_cxx_source_compiles([[
    #include <cstddef>
    #include <cstdint>
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
  ]] HBAFW_HAVE_LIBFUZZER)
  if(NOT HBAFW_HAVE_LIBFUZZER)
    message(FATAL_ERROR "hbafw: fuzzers requested (HBAFW_FUZZ=ON) but ${CMAKE_CXX_COMPILER_ID} cannot link "
                        "-fsanitize=fuzzer; configure with CC=clang CXX=clang++ (and libclang-rt-14-dev)")
  endif()
endfunction()
