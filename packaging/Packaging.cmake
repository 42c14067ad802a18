# Installation (GNU directories) and the Debian package:
#   cmake --build build --target package  ->  build/orderlink_<version>_amd64.deb
# Generated files (man pages, icons, changelog) are written to the build folder.

include(GNUInstallDirs)
find_program(ORDERLINK_CONVERT convert REQUIRED)  # ImageMagick: the icons
find_program(ORDERLINK_GZIP gzip REQUIRED)

set(packaging_source ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_build ${CMAKE_BINARY_DIR}/packaging)
set(packaging_outputs)

# Man pages and the changelog carry the version; Debian wants them compressed
# reproducibly (gzip -n: no name or time stamp).
foreach(page orderlink.1 orderlink-basesim.1 orderlink-hostsim.1 changelog)
  configure_file(${packaging_source}/${page} ${packaging_build}/${page} @ONLY)
  add_custom_command(OUTPUT ${packaging_build}/${page}.gz
    COMMAND ${ORDERLINK_GZIP} -9nkf ${packaging_build}/${page}
    DEPENDS ${packaging_build}/${page}
    VERBATIM)
  list(APPEND packaging_outputs ${packaging_build}/${page}.gz)
endforeach()

# The tray picture at the sizes of the hicolor icon theme.
set(icon_source ${CMAKE_SOURCE_DIR}/src/app/pictures/tab_test.png)
set(icon_sizes 16 22 24 32 48 64 128)
foreach(size ${icon_sizes})
  set(icon ${packaging_build}/icons/${size}x${size}/orderlink.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_build}/icons/${size}x${size}
    COMMAND ${ORDERLINK_CONVERT} ${icon_source} -resize ${size}x${size} -strip PNG32:${icon}
    DEPENDS ${icon_source}
    VERBATIM)
  list(APPEND packaging_outputs ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(orderlink_packaging_files ALL DEPENDS ${packaging_outputs})

install(TARGETS orderlink orderlink-basesim orderlink-hostsim
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging_build}/orderlink.1.gz ${packaging_build}/orderlink-basesim.1.gz
              ${packaging_build}/orderlink-hostsim.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_source}/orderlink.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# /usr/lib/udev/rules.d: where udev reads packaged rules on a merged-/usr system.
install(FILES ${packaging_source}/60-orderlink-serial.rules DESTINATION lib/udev/rules.d)
install(FILES ${packaging_source}/copyright ${packaging_build}/changelog.gz
              ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/host-link.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${packaging_source}/orderlink.conf.example ${packaging_source}/orderlink-autostart.desktop
              ${CMAKE_SOURCE_DIR}/docs/host_link_example.py
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orderlink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
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
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "orderlink developers <orderlink@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own buttons and dialogs in Chinese; Chinese glyphs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "socat")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

# Builds the package, unpacks it into a temporary root and checks what an
# installation would hold.
add_test(NAME package_contents
  COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check_package.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION}
          $<$<OR:$<BOOL:${ORDERLINK_SANITIZE}>,$<BOOL:${ORDERLINK_TSAN}>>:sanitized>)
set_tests_properties(package_contents PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
