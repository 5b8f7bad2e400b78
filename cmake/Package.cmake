# The Debian packages and the RPMs, built by CPack's DEB and RPM generators
# (`cpack -G DEB` or `cpack -G RPM` in a build folder; scripts/package does both
# from the portable trees). They package what the install rules install and add
# only metadata; nothing here builds anything. Each format makes two packages:
# hbafw (the component, for the servers) and the collection hbafw.fleet
# (architecture-independent, for the controller), as distributions ship
# collections apart from the tools they drive.
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL component collection)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_RPM_COMPONENT_INSTALL ON)
# The oldest ansible-core the collection supports (its meta/runtime.yml).
set(hbafw_ansible_floor 2.14)
set(CPACK_PACKAGE_NAME hbafw)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${HBAFW_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "hbafw maintainers")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://hbafw.example.org/")
# CPack puts this summary before every package's description unless it is
# CPack's own default; each description below starts with its own synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hbafw built using CMake")
# A cross-built tree packs for its target, not for the machine running CPack.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(hbafw_deb_arch arm64)
  set(hbafw_rpm_arch aarch64)
else()
  set(hbafw_deb_arch amd64)
  set(hbafw_rpm_arch x86_64)
endif()
# The Emulex build unpacks its vendor's flash kit with unzip; the package's
# rotation file needs logrotate to mean anything; hbafw-bundle reads the
# builds' symbols with objdump.
set(hbafw_requires unzip logrotate binutils)
# The install rules put the logrotate file under /etc; DESTDIR lets them see
# the real prefix (/usr) at packaging time.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_COMPONENT_PACKAGE_NAME hbafw)
set(CPACK_DEBIAN_COLLECTION_PACKAGE_NAME ${HBAFW_COLLECTION_PACKAGE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${HBAFW_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HBAFW_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${hbafw_deb_arch})
set(CPACK_DEBIAN_COMPONENT_PACKAGE_SHLIBDEPS ON)
list(JOIN hbafw_requires ", " CPACK_DEBIAN_COMPONENT_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_COLLECTION_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_COLLECTION_PACKAGE_DEPENDS "ansible-core (>= ${hbafw_ansible_floor}), python3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg keeps an operator's edits to files under /etc only when they are listed
# here; postinst, prerm and postrm manage the systemd units as
# dh_installsystemd's would, and postrm removes the component's state on purge.
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "/etc/logrotate.d/hbafw\n")
set(CPACK_DEBIAN_COMPONENT_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles
  ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
  ${PROJECT_SOURCE_DIR}/packaging/postrm)
# What those scripts call, as debhelper's own dependency would name it.
string(APPEND CPACK_DEBIAN_COMPONENT_PACKAGE_DEPENDS ", init-system-helpers (>= 1.54~)")
# The extended descriptions; the first line of each package's is its synopsis.
set(hbafw_component_text "Updates the firmware of QLogic, Emulex and Brocade Fibre Channel host bus
adapters. Run hbafw-qlogic, hbafw-emulex or hbafw-brocade as root in the
folder that holds the vendor's flash tool and the firmware package's
reference.xml: it finds the adapters, compares their active firmware with
the package, flashes when an upgrade is pending (or when forced with /f) and
reports the outcome by its exit code (1 is success). With /d PATH it only
writes an XML discovery report. Every run appends to
/var/vkx/Component.log, which the package rotates weekly.
.
hbafw-inventory lists the adapters the component would see;
hbafw-pattern tries the component's own pattern engine by hand;
hbafw-bundle makes a firmware bundle of the installed builds and the
vendor's files, which the Ansible collection hbafw.fleet (package
${HBAFW_COLLECTION_PACKAGE}) rolls out to many servers.")
set(CPACK_COMPONENT_COMPONENT_DESCRIPTION "firmware update component for Fibre Channel HBAs
${hbafw_component_text}")
set(hbafw_collection_text "The Ansible collection hbafw.fleet verifies an hbafw firmware bundle,
discovers the Fibre Channel adapters of every server, updates the servers
with something to flash in rolling batches, restarts them when asked and
writes a fleet report per run. It runs on the Ansible controller; the
servers need only SSH, sudo and Python 3.6 or later.")
set(CPACK_COMPONENT_COLLECTION_DESCRIPTION "Ansible collection hbafw.fleet: HBA firmware rollouts
${hbafw_collection_text}")


set(CPACK_RPM_COMPONENT_PACKAGE_NAME hbafw)
set(CPACK_RPM_COLLECTION_PACKAGE_NAME ${HBAFW_COLLECTION_PACKAGE})
set(CPACK_RPM_COLLECTION_PACKAGE_ARCHITECTURE noarch)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE ${HBAFW_DEBIAN_RELEASE})
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${hbafw_rpm_arch})
set(CPACK_RPM_COMPONENT_PACKAGE_SUMMARY "Firmware update component for Fibre Channel HBAs")
set(CPACK_RPM_COLLECTION_PACKAGE_SUMMARY "Ansible collection hbafw.fleet: HBA firmware rollouts")
# As packaging/copyright says: no free licence yet.
set(CPACK_RPM_PACKAGE_LICENSE "LicenseRef-Proprietary")
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_URL "${CPACK_PACKAGE_HOMEPAGE_URL}")
set(CPACK_RPM_PACKAGE_VENDOR "${CPACK_PACKAGE_VENDOR}")
set(CPACK_RPM_PACKAGE_PACKAGER "${HBAFW_MAINTAINER}")
list(JOIN hbafw_requires ", " CPACK_RPM_COMPONENT_PACKAGE_REQUIRES)
set(CPACK_RPM_COLLECTION_PACKAGE_REQUIRES "ansible-core >= ${hbafw_ansible_floor}")
# The Debian texts without their paragraph dots.
string(REPLACE "\n.\n" "\n\n" CPACK_RPM_COMPONENT_PACKAGE_DESCRIPTION "${hbafw_component_text}")
set(CPACK_RPM_COLLECTION_PACKAGE_DESCRIPTION "${hbafw_collection_text}")
# rpm keeps an operator's edited rotation file on upgrade (the new one lands as .rpmnew).
set(CPACK_RPM_COMPONENT_USER_FILELIST "%config(noreplace) /etc/logrotate.d/hbafw")
# Folders other packages own: listing them would make this package claim them.
# The collection's package owns the folders Ansible reads collections from, as
# ansible-core need not: erasing it leaves nothing behind.
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
  /etc/logrotate.d /usr/sbin /usr/share/man /usr/share/man/man1 /usr/share/man/man8 /var
  /usr/lib/systemd /usr/lib/systemd/system
  /usr/share/lintian /usr/share/lintian/overrides)
# CMake 3.18's spec has no Packager tag, so rpmbuild takes it from the macro. Ansible
# runs the modules with its own interpreter: their #! line is no dependency.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${HBAFW_MAINTAINER}
%define _build_id_links none
%global __requires_exclude ^/usr/bin/python3?$")
set(CPACK_RPM_USER_BINARY_SPECFILE ${PROJECT_SOURCE_DIR}/packaging/rpm-build.in)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackageGenerators.cmake)

include(CPack)
