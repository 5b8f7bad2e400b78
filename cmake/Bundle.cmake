# The rollout bundle hbafw-bundle-VERSION.tar.gz for the hbafw.fleet
# collection: one folder with the three vendor builds (stripped), the
# vendor's catalogue and tools, SHA256SUMS of every file and, when a key is
# named, its detached signature SHA256SUMS.sig. Included from CMakeLists.txt
# it adds the target `bundle`; run with `cmake -P` it makes one bundle.
# The archive is reproducible: sorted names, fixed times, no owners.

if(CMAKE_SCRIPT_MODE_FILE)
  # Inputs: HBAFW_BUNDLE_BINARIES (folder of the vendor builds),
  # HBAFW_BUNDLE_FILES (;-list: catalogue and vendor tools),
  # HBAFW_BUNDLE_VERSION, HBAFW_BUNDLE_OUTPUT (folder), and optionally
  # HBAFW_BUNDLE_STRIP (program), HBAFW_BUNDLE_SIGN_KEY (gpg key id),
  # HBAFW_BUNDLE_OBJDUMP (program for the symbol check) and
  # HBAFW_BUNDLE_ANY_SYMBOLS (ON: skip the symbol check).
  # COMMAND_ERROR_IS_FATAL needs CMake 3.19; the project supports 3.18.
  function(bundle_run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${work} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "bundle: ${ARGN} failed: ${failed}")
    endif()
  endfunction()
  set(name hbafw-bundle-${HBAFW_BUNDLE_VERSION})
  set(work ${HBAFW_BUNDLE_OUTPUT}/${name}.work)
  set(folder ${work}/${name})
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${folder})

  set(catalogue FALSE)
  foreach(source IN LISTS HBAFW_BUNDLE_FILES)
    get_filename_component(base ${source} NAME)
    if(base STREQUAL "reference.xml")
      set(catalogue TRUE)
    endif()
    if(NOT EXISTS ${source} OR IS_DIRECTORY ${source})
      message(FATAL_ERROR "bundle: ${source} is not a file")
    endif()
    file(COPY ${source} DESTINATION ${folder})
  endforeach()
  if(NOT catalogue)
    message(FATAL_ERROR "bundle: no catalogue; add the vendor's reference.xml to the bundle's files")
  endif()
  set(binaries "")
  foreach(vendor qlogic emulex brocade)
    set(binary ${HBAFW_BUNDLE_BINARIES}/hbafw-${vendor})
    if(NOT EXISTS ${binary})
      message(FATAL_ERROR "bundle: ${binary} is missing; build it first")
    endif()
    list(APPEND binaries ${binary})
  endforeach()
  # The servers run old distributions: a build for a newer glibc or libstdc++
  # would fail there at start, after the bundle was sent.
  if(NOT HBAFW_BUNDLE_ANY_SYMBOLS)
    if(NOT HBAFW_BUNDLE_OBJDUMP)
      set(HBAFW_BUNDLE_OBJDUMP objdump)
    endif()
    execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/lib/symbol_floor.sh
      ${HBAFW_BUNDLE_OBJDUMP} bundle ${binaries} RESULT_VARIABLE above)
    if(above)
      message(FATAL_ERROR "bundle: the vendor builds need more than the servers' distributions "
        "provide (above); make the bundle from the portable builds (scripts/bundle), or "
        "ship them anyway with -DHBAFW_BUNDLE_ANY_SYMBOLS=ON (scripts/bundle --any-symbols)")
    endif()
  endif()
  foreach(vendor qlogic emulex brocade)
    file(COPY ${HBAFW_BUNDLE_BINARIES}/hbafw-${vendor} DESTINATION ${folder})
    if(HBAFW_BUNDLE_STRIP)
      bundle_run(${HBAFW_BUNDLE_STRIP} --strip-unneeded ${folder}/hbafw-${vendor})
    endif()
  endforeach()

  file(GLOB files RELATIVE ${folder} ${folder}/*)
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    file(SHA256 ${folder}/${file} digest)
    string(APPEND sums "${digest}  ${file}\n")
  endforeach()
  file(WRITE ${folder}/SHA256SUMS "${sums}")
  set(members ${files} SHA256SUMS)
  if(HBAFW_BUNDLE_SIGN_KEY)
    bundle_run(gpg --batch --yes --local-user ${HBAFW_BUNDLE_SIGN_KEY}
      --detach-sign --output ${folder}/SHA256SUMS.sig ${folder}/SHA256SUMS)
    list(APPEND members SHA256SUMS.sig)
  endif()
  list(TRANSFORM members PREPEND ${name}/)

  set(archive ${HBAFW_BUNDLE_OUTPUT}/${name}.tar.gz)
  # gzip -n: no time stamp in the header either.
  bundle_run(${CMAKE_COMMAND} -E tar cf ${work}/${name}.tar --format=gnutar
    "--mtime=2000-01-01 00:00:00 UTC" -- ${members})
  bundle_run(gzip -9n ${work}/${name}.tar)
  file(RENAME ${work}/${name}.tar.gz ${archive})
  file(REMOVE_RECURSE ${work})
  file(SHA256 ${archive} digest)
  message("${archive}")
  message("sha256 ${digest}")
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
    -DHBAFW_BUNDLE_OUTPUT=${CMAKE_BINARY_DIR} -DHBAFW_BUNDLE_STRIP=${HBAFW_STRIP}
    -DHBAFW_BUNDLE_SIGN_KEY=${HBAFW_BUNDLE_SIGN_KEY} -DHBAFW_BUNDLE_OBJDUMP=${HBAFW_OBJDUMP}
    -DHBAFW_BUNDLE_ANY_SYMBOLS=${HBAFW_BUNDLE_ANY_SYMBOLS} -P ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Making hbafw-bundle-${PROJECT_VERSION}.tar.gz"
  VERBATIM)
# Vendor builds from elsewhere (portable ones) need none of this tree's.
if(HBAFW_BUNDLE_BINARIES STREQUAL CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  add_dependencies(bundle hbafw-qlogic hbafw-emulex hbafw-brocade)
endif()
