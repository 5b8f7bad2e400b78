# Read by CPack once per generator (CPACK_PROJECT_CONFIG_FILE): what the .deb
# and the .rpm hold differently. Everything they share is in Package.cmake.
if(CPACK_GENERATOR STREQUAL "RPM")
  # lintian's overrides mean nothing on an RPM system.
  list(APPEND CPACK_RPM_COMPONENT_USER_FILELIST "%exclude /usr/share/lintian/overrides/hbafw")
endif()
