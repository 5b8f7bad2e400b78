# The Debian package, built by CPack's DEB generator (`cpack -G DEB` in a build
# folder; scripts/package does it from a Release tree). It packages what the
# install rules install and adds only control data; it builds nothing itself.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hbafw)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${HBAFW_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update component for Fibre Channel HBAs")
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
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Emulex build unpacks its vendor's flash kit with unzip.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unzip")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "logrotate")
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

include(CPack)
