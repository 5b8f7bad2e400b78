# Release hardening of the shipped binaries, beyond what the top level adds:
# stack protector, stack-clash protection and control-flow protection where
# the compiler has them (GCC 10 and clang both build), and PIE asked for
# explicitly. Sanitizer and fuzz trees bring their own instrumentation.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

if(NOT HBAFW_SANITIZE AND NOT HBAFW_FUZZ)
  # CMake 3.18 has no $<CONFIG:a,b,c>; the top level spells it for both files.
  set(hbafw_release "${hbafw_optimised}")
  foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "HBAFW_HAS${flag}" known)
    check_cxx_compiler_flag(${flag} ${known})
    if(${known})
      add_compile_options("$<${hbafw_release}:${flag}>")
    endif()
  endforeach()
  check_pie_supported(LANGUAGES CXX)
  if(CMAKE_CXX_LINK_PIE_SUPPORTED)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    # Executables only: a shared library (the simulated vendor ones) is no PIE.
    add_link_options("$<$<AND:${hbafw_release},$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>>:-pie>")
  endif()
endif()
