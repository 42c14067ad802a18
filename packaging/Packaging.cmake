# Installation (GNU directories) and the Debian package:
#   cmake --build build --target package  ->  build/orderlink_<version>-<revision>_amd64.deb
# Generated files (man pages, icons, changelog) are written to the build folder.
# The package builds the programs only (the default build), never the tests.

include(GNUInstallDirs)
find_program(ORDERLINK_RSVG_CONVERT rsvg-convert REQUIRED)  # librsvg2-bin: the icons
find_program(ORDERLINK_GZIP gzip REQUIRED)

set(packaging_source ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_build ${CMAKE_BINARY_DIR}/packaging)
set(packaging_outputs)

# The Debian revision of this packaging of the upstream version, and who answers
# for the package: a team, not a person. A build that is published sets its own
# address (-DORDERLINK_PACKAGE_MAINTAINER=...).
set(ORDERLINK_DEBIAN_REVISION 1)
set(ORDERLINK_PACKAGE_MAINTAINER "orderlink developers <orderlink@localhost>"
    CACHE STRING "Maintainer field of the Debian package")
set(ORDERLINK_PACKAGE_VERSION ${PROJECT_VERSION}-${ORDERLINK_DEBIAN_REVISION})

# Man pages and the changelog carry the version; Debian wants them compressed
# reproducibly (gzip -n: no name or time stamp).
foreach(page orderlink.1 orderlink-basesim.1 orderlink-hostsim.1 orderlink.conf.5 changelog)
  configure_file(${packaging_source}/${page} ${packaging_build}/${page} @ONLY)
  add_custom_command(OUTPUT ${packaging_build}/${page}.gz
    COMMAND ${ORDERLINK_GZIP} -9nkf ${packaging_build}/${page}
    DEPENDS ${packaging_build}/${page}
    VERBATIM)
  list(APPEND packaging_outputs ${packaging_build}/${page}.gz)
endforeach()

# The icon, drawn as lines in orderlink.svg (the tray picture), rendered at each
# size of the hicolor icon theme, and installed as it is for the sizes between.
set(icon_source ${packaging_source}/orderlink.svg)
set(icon_sizes 16 22 24 32 48 64 128 256)
foreach(size ${icon_sizes})
  set(icon ${packaging_build}/icons/${size}x${size}/orderlink.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_build}/icons/${size}x${size}
    COMMAND ${ORDERLINK_RSVG_CONVERT} -w ${size} -h ${size} -o ${icon} ${icon_source}
    DEPENDS ${icon_source}
    VERBATIM)
  list(APPEND packaging_outputs ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${icon_source} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
add_custom_target(orderlink_packaging_files ALL DEPENDS ${packaging_outputs})

install(TARGETS orderlink orderlink-basesim orderlink-hostsim
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging_build}/orderlink.1.gz ${packaging_build}/orderlink-basesim.1.gz
              ${packaging_build}/orderlink-hostsim.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_source}/orderlink.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# /usr/lib/udev/rules.d: where udev reads packaged rules on a merged-/usr system.
install(FILES ${packaging_source}/60-orderlink-serial.rules DESTINATION lib/udev/rules.d)
install(FILES ${packaging_build}/orderlink.conf.5.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
# The documents for installers and integrators; the example client lies beside the
# page that links to it. The developer's README (build folders, scripts) stays out.
# A package with a Debian revision names its changelog changelog.Debian.
install(FILES ${packaging_build}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
  RENAME changelog.Debian.gz)
install(FILES ${packaging_source}/copyright ${packaging_source}/README.Debian
              ${CMAKE_SOURCE_DIR}/docs/host-link.md ${CMAKE_SOURCE_DIR}/docs/host_link_example.py
              ${CMAKE_SOURCE_DIR}/docs/records.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${packaging_source}/orderlink.conf.example ${packaging_source}/orderlink-autostart.desktop
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The dissector of frame traces (orderlink --trace) in Wireshark's folder of Lua
# plugins, so that wireshark and tshark decode a trace without -X.
set(multiarch ${CMAKE_LIBRARY_ARCHITECTURE})
if(NOT multiarch)
  execute_process(COMMAND dpkg-architecture -qDEB_HOST_MULTIARCH
    OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(ORDERLINK_WIRESHARK_PLUGIN_DIR lib/${multiarch}/wireshark/plugins)
install(FILES ${CMAKE_SOURCE_DIR}/tools/wireshark/orderlink.lua
  DESTINATION ${ORDERLINK_WIRESHARK_PLUGIN_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orderlink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ORDERLINK_DEBIAN_REVISION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manager of wireless restaurant ordering handsets")
# CPack indents each line and writes the empty one as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "orderlink is the PC side of a wireless ordering installation: it polls the
waiters' handsets through a radio base station on a serial line, hands their
requests to the restaurant's ordering software as text files, carries the
answers back, downloads menu tables to the handsets, tests the radio link and
configures base stations. It lives in the desktop tray (无线点菜机管理).

Includes orderlink-basesim (simulated base station and handsets) and
orderlink-hostsim (stand-in for the ordering software).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORDERLINK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own buttons and dialogs in Chinese; Chinese glyphs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "socat, wireshark | tshark")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

# Builds the package, unpacks it into a temporary root and checks what an
# installation would hold.
add_test(NAME package_contents
  COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check_package.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION}
          ${ORDERLINK_PACKAGE_VERSION} ${ORDERLINK_WIRESHARK_PLUGIN_DIR}
          $<$<OR:$<BOOL:${ORDERLINK_SANITIZE}>,$<BOOL:${ORDERLINK_TSAN}>>:sanitized>)
set_tests_properties(package_contents PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
