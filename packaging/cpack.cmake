# Debian packages, one per component: libveltris1, libveltris-dev,
# veltris-agent and veltris-console, each with a -dbgsym package beside it.
# Maintainer and Homepage come from the top-level VELTRIS_MAINTAINER and
# project(HOMEPAGE_URL); the version from the project version.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltris)
set(CPACK_PACKAGE_VENDOR Quorvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VELTRIS_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The DEB generator strips the programs itself once their debug symbols are
# split off (CPACK_DEBIAN_DEBUGINFO_PACKAGE below).
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${VELTRIS_PACKAGE_COMPONENTS})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_EPOCH ${VELTRIS_DEBIAN_EPOCH})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRIS_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debug symbols go to <package>-dbgsym, found through the build id.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# dpkg-shlibdeps finds libveltris.so.1 in the build tree; the dependency on
# its package is written out below, as the shlibs file states it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/platform/access)
set(veltris_library_dependency "libveltris1 (>= ${VELTRIS_DEBIAN_VERSION})")

configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/lib/shlibs.in ${CMAKE_CURRENT_BINARY_DIR}/debian/lib/shlibs @ONLY)
set(CPACK_DEBIAN_LIB_PACKAGE_NAME libveltris1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/lib/shlibs
  ${CMAKE_CURRENT_LIST_DIR}/debian/lib/symbols
  ${CMAKE_CURRENT_LIST_DIR}/debian/lib/triggers)
set(CPACK_COMPONENT_LIB_DESCRIPTION "VELTRIS agent access library
VELTRIS shows what one PC does on its local network. This package holds
libveltris, the client access library through which consoles and scripts
talk to a VELTRIS agent over DCE/RPC: TapsorRpcOpen, TapsorRpcWrite,
TapsorRpcRead, TapsorRpcSave and TapsorRpcClose; it also answers requests
from snapshot files.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libveltris-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libveltris1 (= ${VELTRIS_DEBIAN_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "VELTRIS agent access library (development files)
VELTRIS shows what one PC does on its local network. This package holds
what programs that talk to a VELTRIS agent through libveltris are built
with: the header veltris.h, the link libveltris.so and the pkg-config file
veltris.pc.")

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME veltris-agent)
set(CPACK_DEBIAN_AGENT_PACKAGE_DEPENDS "${veltris_library_dependency}, adduser, init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_AGENT_PACKAGE_RECOMMENDS "iputils-ping, iproute2, traceroute, bind9-dnsutils")
# NBTSTAT and NET VIEW only; they pull in most of Samba.
set(CPACK_DEBIAN_AGENT_PACKAGE_SUGGESTS "samba-common-bin, smbclient")
set(CPACK_DEBIAN_AGENT_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/agent/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/agent/prerm
  ${CMAKE_CURRENT_LIST_DIR}/debian/agent/postrm)
set(CPACK_COMPONENT_AGENT_DESCRIPTION "LAN traffic monitoring agent of one PC
VELTRIS shows what one PC does on its local network. This package holds the
agent TapsorSv, which captures the frames the PC's adapters send and receive,
keeps per-partner statistics and daily history files and answers consoles
over DCE/RPC; the command runner TapsorCC; and the command-line client
veltris-cli.

The agent runs as the systemd service TapsorSv.service (alias
veltris.service); on first install the registry /etc/veltris/registry.reg is
created with a random access key, readable by root and the group veltris.")

# The console needs the access library, not the agent: it may watch agents
# on other PCs only.
set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME veltris-console)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_DEPENDS "${veltris_library_dependency}")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_RECOMMENDS "pkexec, polkitd")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/console/conffiles)
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION "LAN traffic monitoring console and tray icon
VELTRIS shows what one PC does on its local network. This package holds the
monitoring console VELTRIS, which connects to the agent of this PC or of
another one and shows traffic graphs, partner sessions, broadcasts, errors
and packet details; the tray icon veltris-tray with its QuickLook window and
agent settings dialog; and the help book. The agent itself is in the
package veltris-agent.")

include(CPack)
