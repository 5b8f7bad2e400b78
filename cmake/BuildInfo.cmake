# What every shipped program says about its build (--version): the package
# version, the commit and the symbol floor of scripts/lib/symbol_floor.sh.
# Made once here; the C++ programs get it as compile definitions of
# framework/tool_identity.cpp alone, the bundle maker through configure_file.
set(hbafw_floor_file ${PROJECT_SOURCE_DIR}/scripts/lib/symbol_floor.sh)
file(STRINGS ${hbafw_floor_file} hbafw_floor_line REGEX "^readonly MAX_GLIBC=")
string(REGEX REPLACE ".*MAX_GLIBC=([0-9.]+) MAX_GLIBCXX=([0-9.]+) MAX_CXXABI=([0-9.]+).*"
  "GLIBC_\\1 GLIBCXX_\\2 CXXABI_\\3" HBAFW_BUILD_FLOOR "${hbafw_floor_line}")
if(NOT HBAFW_BUILD_FLOOR MATCHES "^GLIBC_")
  message(FATAL_ERROR "hbafw: no symbol floor found in ${hbafw_floor_file}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${hbafw_floor_file})

# A tree that is not a git checkout (a source tarball) says so rather than guess;
# a build where git is missing (the Debian 11 root) is given it (scripts/portable).
if(NOT HBAFW_BUILD_COMMIT)
  set(HBAFW_BUILD_COMMIT unknown)
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=12 HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE hbafw_commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE hbafw_git_failed)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path logs/HEAD
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE hbafw_head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT hbafw_git_failed AND hbafw_commit)
      set(HBAFW_BUILD_COMMIT ${hbafw_commit})
    endif()
    # A commit or checkout appends to it, so the next build reconfigures.
    if(EXISTS "${hbafw_head_log}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${hbafw_head_log})
    endif()
  endif()
endif()
set(HBAFW_BUILD_TEXT "commit ${HBAFW_BUILD_COMMIT}, symbol floor ${HBAFW_BUILD_FLOOR}")
