# The rollout bundle hbafw-bundle-VERSION.tar.gz for the hbafw.fleet
# collection: one folder with the three vendor builds (stripped), the
# vendor's catalogue and tools, SHA256SUMS of every file and, when a key is
# named, its detached signature SHA256SUMS.sig. Included from CMakeLists.txt
# it adds the target `bundle`; run with `cmake -P` it makes one bundle, by
# the same maker the packages ship as hbafw-bundle (apps/hbafw-bundle.in).
# The archive is reproducible: sorted names, fixed times, no owners.

if(CMAKE_SCRIPT_MODE_FILE)
  # Inputs: HBAFW_BUNDLE_BINARIES (folder of the vendor builds),
  # HBAFW_BUNDLE_FILES (;-list: catalogue and vendor tools),
  # HBAFW_BUNDLE_VERSION, HBAFW_BUNDLE_OUTPUT (folder), and optionally
  # HBAFW_BUNDLE_STRIP (program), HBAFW_BUNDLE_SIGN_KEY (gpg key id),
  # HBAFW_BUNDLE_OBJDUMP (program for the symbol check) and
  # HBAFW_BUNDLE_ANY_SYMBOLS (ON: skip the symbol check).
  # The packages' hbafw-bundle makes it, with this tree's symbol floor.
  if(NOT HBAFW_BUNDLE_FILES)
    message(FATAL_ERROR "bundle: no catalogue; name the vendor's reference.xml and tools in HBAFW_BUNDLE_FILES")
  endif()
  set(PROJECT_VERSION ${HBAFW_BUNDLE_VERSION})
  set(HBAFW_SYMBOL_FLOOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/lib/symbol_floor.sh)
  set(maker ${HBAFW_BUNDLE_OUTPUT}/hbafw-bundle.sh)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/../apps/hbafw-bundle.in ${maker} @ONLY)
  set(options --output ${HBAFW_BUNDLE_OUTPUT})
  if(HBAFW_BUNDLE_STRIP)
    list(APPEND options --strip ${HBAFW_BUNDLE_STRIP})
  endif()
  if(HBAFW_BUNDLE_OBJDUMP)
    list(APPEND options --objdump ${HBAFW_BUNDLE_OBJDUMP})
  endif()
  if(HBAFW_BUNDLE_SIGN_KEY)
    list(APPEND options --sign ${HBAFW_BUNDLE_SIGN_KEY})
  endif()
  if(HBAFW_BUNDLE_ANY_SYMBOLS)
    list(APPEND options --any-symbols)
  endif()
  execute_process(COMMAND bash ${maker} ${options} -- ${HBAFW_BUNDLE_FILES} RESULT_VARIABLE failed)
  file(REMOVE ${maker})
  if(failed)
    message(FATAL_ERROR "bundle: no bundle made")
  endif()
  return()
endif()

# Portable builds replace the folder the vendor builds come from.
set(HBAFW_BUNDLE_BINARIES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} CACHE PATH
  "Folder the bundle takes the three vendor builds from")
set(HBAFW_BUNDLE_FILES "" CACHE STRING
  "The vendor's catalogue (reference.xml) and flash tools the bundle carries (;-list)")
set(HBAFW_BUNDLE_SIGN_KEY "" CACHE STRING "gpg key that signs the bundle's SHA256SUMS; empty: unsigned")
option(HBAFW_BUNDLE_ANY_SYMBOLS "Bundle vendor builds that need a newer glibc or libstdc++ than the servers' floor" OFF)
# A cache entry, so a tree whose vendor builds are of another architecture
# can name that architecture's strip.
find_program(HBAFW_STRIP NAMES ${CMAKE_STRIP} strip)
find_program(HBAFW_OBJDUMP NAMES ${CMAKE_OBJDUMP} objdump)
add_custom_target(bundle
  COMMAND ${CMAKE_COMMAND} -DHBAFW_BUNDLE_BINARIES=${HBAFW_BUNDLE_BINARIES}
    "-DHBAFW_BUNDLE_FILES=${HBAFW_BUNDLE_FILES}" -DHBAFW_BUNDLE_VERSION=${PROJECT_VERSION}
    "-DHBAFW_BUILD_TEXT=${HBAFW_BUILD_TEXT}"
    -DHBAFW_BUNDLE_OUTPUT=${CMAKE_BINARY_DIR} -DHBAFW_BUNDLE_STRIP=${HBAFW_STRIP}
    -DHBAFW_BUNDLE_SIGN_KEY=${HBAFW_BUNDLE_SIGN_KEY} -DHBAFW_BUNDLE_OBJDUMP=${HBAFW_OBJDUMP}
    -DHBAFW_BUNDLE_ANY_SYMBOLS=${HBAFW_BUNDLE_ANY_SYMBOLS} -P ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Making hbafw-bundle-${PROJECT_VERSION}.tar.gz"
  VERBATIM)
# Vendor builds from elsewhere (portable ones) need none of this tree's.
if(HBAFW_BUNDLE_BINARIES STREQUAL CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  add_dependencies(bundle hbafw-qlogic hbafw-emulex hbafw-brocade)
endif()
