# Debian packages, one per component: veltris-agent and veltris-console.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltris)
set(CPACK_PACKAGE_VENDOR Quorvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VELTRIS Developers <veltris@quorvik.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${VELTRIS_PACKAGE_COMPONENTS})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The console links the access library of the agent package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/platform/access)

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME veltris-agent)
set(CPACK_DEBIAN_AGENT_PACKAGE_DEPENDS "init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_AGENT_PACKAGE_RECOMMENDS "iputils-ping, iproute2, traceroute, bind9-dnsutils, samba-common-bin, smbclient")
set(CPACK_DEBIAN_AGENT_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/debian/agent/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/agent/prerm
  ${CMAKE_CURRENT_LIST_DIR}/debian/agent/postrm
  ${CMAKE_CURRENT_LIST_DIR}/debian/agent/triggers)
set(CPACK_COMPONENT_AGENT_DESCRIPTION "LAN traffic monitoring agent of one PC
VELTRIS shows what one PC does on its local network. This package holds the
agent TapsorSv, which captures the frames the PC's adapters send and receive,
keeps per-partner statistics and daily history files and answers consoles
over DCE/RPC; the command runner TapsorCC; the access library libveltris;
and the command-line client veltris-cli.

The agent runs as the systemd service TapsorSv.service; on first install
the registry /etc/veltris/registry.reg is created with a random access key.")

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME veltris-console)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_DEPENDS "veltris-agent (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/console/conffiles)
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION "LAN traffic monitoring console and tray icon
VELTRIS shows what one PC does on its local network. This package holds the
monitoring console VELTRIS, which connects to the agent of this PC or of
another one and shows traffic graphs, partner sessions, broadcasts, errors
and packet details; the tray icon veltris-tray with its QuickLook window and
agent settings dialog; and the help book.")

include(CPack)
