# Install rules: the shipped binaries, manual pages, documentation, the
# logrotate file and the Ansible collection. Nothing test-only is installed:
# the simulated machine, its libraries and the test helpers stay in the tree.
# Two install components, one package each: the component on the servers
# (every rule without a COMPONENT) and the collection on the controller.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME component)
set(HBAFW_COLLECTION_PACKAGE ansible-collection-hbafw-fleet)

# Named here because the Debian changelog and the package's control file must agree.
set(HBAFW_MAINTAINER "hbafw maintainers <maintainers@hbafw.example.org>")
set(HBAFW_DEBIAN_RELEASE 1)

install(TARGETS hbafw-qlogic hbafw-emulex hbafw-brocade hbafw-inventory RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS hbafw-pattern RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The bundle maker, over the vendor builds installed here and the symbol floor
# beside it: its paths are the installed ones, so they are written in at
# install time, when the prefix is known (CPack's differs from the tree's).
install(FILES scripts/lib/symbol_floor.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/hbafw
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(CODE "
  set(PROJECT_VERSION ${PROJECT_VERSION})
  set(HBAFW_BUILD_TEXT \"${HBAFW_BUILD_TEXT}\")
  set(HBAFW_BUNDLE_BINARIES \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}\")
  set(HBAFW_SYMBOL_FLOOR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/hbafw/symbol_floor.sh\")
  configure_file(\"${PROJECT_SOURCE_DIR}/apps/hbafw-bundle.in\" \"${PROJECT_BINARY_DIR}/packaging/hbafw-bundle\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\" TYPE FILE
       PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
       FILES \"${PROJECT_BINARY_DIR}/packaging/hbafw-bundle\")
")

add_subdirectory(man)

set(HBAFW_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/hbafw)
install(FILES README.md DESTINATION ${HBAFW_DOC_DIR})
foreach(vendor qlogic emulex brocade)
  install(FILES components/${vendor}/README.md DESTINATION ${HBAFW_DOC_DIR} RENAME README.${vendor}.md)
endforeach()
install(FILES packaging/copyright DESTINATION ${HBAFW_DOC_DIR})
# Read by lintian only; the RPM leaves it out (cmake/PackageGenerators.cmake).
install(FILES packaging/lintian/hbafw DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
# Debian wants the changelog compressed without a timestamp, so it is made at build time.
configure_file(packaging/changelog.Debian.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz
  COMMAND gzip -9nf -k ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian)
add_custom_target(hbafw_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz DESTINATION ${HBAFW_DOC_DIR})
install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${HBAFW_COLLECTION_PACKAGE} COMPONENT collection)

# The component reopens the log on every write, so rotating needs no signal and
# no copytruncate. The folder follows GNUInstallDirs' rule (/usr -> /etc), but
# decided at install time so `cmake --install --prefix` and CPack both land right.
set(HBAFW_LOGROTATE_SOURCE ${PROJECT_SOURCE_DIR}/packaging/hbafw.logrotate)
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(hbafw_logrotate_dir /etc/logrotate.d)
  else()
    set(hbafw_logrotate_dir \"\${CMAKE_INSTALL_PREFIX}/etc/logrotate.d\")
  endif()
  # file(INSTALL) adds DESTDIR itself.
  file(INSTALL DESTINATION \"\${hbafw_logrotate_dir}\" TYPE FILE
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
       RENAME hbafw FILES \"${HBAFW_LOGROTATE_SOURCE}\")
")

# The component's log folder belongs to the package, so removing the package
# removes it when empty; the component still creates it if an operator deleted it.
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(hbafw_log_dir /var/vkx)
  else()
    set(hbafw_log_dir \"\${CMAKE_INSTALL_PREFIX}/var/vkx\")
  endif()
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${hbafw_log_dir}\")
")

# The daily refresh of the node_exporter metrics; shipped disabled, an
# operator who runs node_exporter enables the timer.
install(FILES packaging/systemd/hbafw-inventory.service packaging/systemd/hbafw-inventory.timer
  DESTINATION lib/systemd/system PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Installed where Ansible looks for system-wide collections, so
# `hbafw.fleet.rollout` resolves without a path.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/deploy/ansible/ansible_collections
  DESTINATION ${CMAKE_INSTALL_DATADIR}/ansible/collections COMPONENT collection
  PATTERN "__pycache__" EXCLUDE PATTERN "*.pyc" EXCLUDE PATTERN "tests" EXCLUDE
  PATTERN ".ansible-lint-ignore" EXCLUDE
  # Modules start with a #! line, so they are installed as the scripts they are.
  REGEX "/plugins/modules/[^/]+[.]py$" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Ansible runs a module with the server's interpreter whatever its #! line says;
# the installed copy names python3, as Debian's and Fedora's Python policies
# want of a packaged script (the source keeps the line ansible-test requires).
install(CODE "
  file(GLOB hbafw_modules \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/hbafw/fleet/plugins/modules/*.py\")
  foreach(module IN LISTS hbafw_modules)
    file(READ \"\${module}\" text)
    string(REGEX REPLACE \"^#!/usr/bin/python\\n\" \"#!/usr/bin/python3\\n\" text \"\${text}\")
    file(WRITE \"\${module}\" \"\${text}\")
  endforeach()
" COMPONENT collection)
