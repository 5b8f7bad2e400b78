# The Debian package and the RPM, built by CPack's DEB and RPM generators
# (`cpack -G DEB` or `cpack -G RPM` in a build folder; scripts/package does both
# from the portable trees). They package what the install rules install and add
# only metadata; nothing here builds anything.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hbafw)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${HBAFW_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "hbafw maintainers")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://hbafw.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update component for Fibre Channel HBAs")
# A cross-built tree packs for its target, not for the machine running CPack.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(hbafw_deb_arch arm64)
  set(hbafw_rpm_arch aarch64)
else()
  set(hbafw_deb_arch amd64)
  set(hbafw_rpm_arch x86_64)
endif()
# The Emulex build unpacks its vendor's flash kit with unzip; the package's
# rotation file needs logrotate to mean anything.
set(hbafw_requires unzip logrotate)
# The install rules put the logrotate file under /etc; DESTDIR lets them see
# the real prefix (/usr) at packaging time.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME hbafw)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${HBAFW_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HBAFW_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${hbafw_deb_arch})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
list(JOIN hbafw_requires ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ansible-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg keeps an operator's edits to files under /etc only when they are listed here.
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "/etc/logrotate.d/hbafw\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)
# The summary above is the synopsis line; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Updates the firmware of QLogic, Emulex and Brocade Fibre Channel host bus
adapters. Run hbafw-qlogic, hbafw-emulex or hbafw-brocade as root in the
folder that holds the vendor's flash tool and the firmware package's
reference.xml: it finds the adapters, compares their active firmware with
the package, flashes when an upgrade is pending (or when forced with /f) and
reports the outcome by its exit code (1 is success). With /d PATH it only
writes an XML discovery report. Every run appends to
/var/vkx/Component.log, which the package rotates weekly.
.
hbafw-inventory lists the adapters the component would see;
hbafw-pattern tries the component's own pattern engine by hand. The
Ansible collection hbafw.fleet rolls a firmware bundle out to many
servers.")


set(CPACK_RPM_PACKAGE_NAME hbafw)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE ${HBAFW_DEBIAN_RELEASE})
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${hbafw_rpm_arch})
set(CPACK_RPM_PACKAGE_SUMMARY "Firmware update component for Fibre Channel HBAs")
# As packaging/copyright says: no free licence yet.
set(CPACK_RPM_PACKAGE_LICENSE "LicenseRef-Proprietary")
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_URL "${CPACK_PACKAGE_HOMEPAGE_URL}")
set(CPACK_RPM_PACKAGE_VENDOR "${CPACK_PACKAGE_VENDOR}")
set(CPACK_RPM_PACKAGE_PACKAGER "${HBAFW_MAINTAINER}")
list(JOIN hbafw_requires ", " CPACK_RPM_PACKAGE_REQUIRES)
set(CPACK_RPM_PACKAGE_SUGGESTS "ansible-core")
# The Debian text without its paragraph dots.
string(REPLACE "\n.\n" "\n\n" CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
# rpm keeps an operator's edited rotation file on upgrade (the new one lands as .rpmnew).
set(CPACK_RPM_USER_FILELIST "%config(noreplace) /etc/logrotate.d/hbafw")
# Folders other packages own: listing them would make this package claim them.
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
  /etc/logrotate.d /usr/sbin /usr/share/man /usr/share/man/man1 /usr/share/man/man8 /var
  /usr/lib/systemd /usr/lib/systemd/system
  /usr/share/ansible /usr/share/ansible/collections /usr/share/ansible/collections/ansible_collections
  /usr/share/lintian /usr/share/lintian/overrides)
# CMake 3.18's spec has no Packager tag, so rpmbuild takes it from the macro. Ansible
# runs the modules with its own interpreter: their #! line is no dependency.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${HBAFW_MAINTAINER}
%define _build_id_links none
%global __requires_exclude ^/usr/bin/python$")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackageGenerators.cmake)

include(CPack)
