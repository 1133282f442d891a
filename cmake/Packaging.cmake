# What `cmake --install` puts on a system, and the Debian package CPack makes of it
# (`cmake --build --preset default --target package`). Tests and benchmarks are not installed.
include(GNUInstallDirs)

set(ZENTLOG_DEBIAN_RELEASE 1)
set(ZENTLOG_DEBIAN_VERSION ${PROJECT_VERSION}-${ZENTLOG_DEBIAN_RELEASE})
# example.org until the team has an address of its own that takes mail: lintian rejects hosts that
# are not routable, such as ".local".
set(ZENTLOG_MAINTAINER "ZENTLOG developers <zentlog@example.org>" CACHE STRING
    "Maintainer of the Debian package and signer of its changelog")

if(ZENTLOG_BUILD_GUI)
  install(TARGETS zentlog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS zentlog-station zentlog-sim zentlog-poll zentlog-extract zentlog-history
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(_packaging ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${_packaging}/zentlog.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_packaging}/icons/zentlog.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNGs are rendered from the SVG and committed (rsvg-convert -w N -h N zentlog.svg), so that a
# build needs no SVG renderer.
foreach(size 16 32 48 64 128 256)
  install(FILES ${_packaging}/icons/zentlog-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME zentlog.png)
endforeach()

# Manual pages and the Debian changelog carry the project's version; they are installed gzipped.
set(_gzipped)
set(_pages zentlog zentlog-station zentlog-sim zentlog-poll zentlog-extract zentlog-history)
foreach(page ${_pages})
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  list(APPEND _gzipped man/${page}.1)
endforeach()
configure_file(${_packaging}/changelog.Debian.in ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
list(APPEND _gzipped packaging/changelog.Debian)
set(_gzip_outputs)
foreach(file ${_gzipped})
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${file}.gz
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_BINARY_DIR}/${file} -DOUT=${PROJECT_BINARY_DIR}/${file}.gz
            -P ${PROJECT_SOURCE_DIR}/cmake/Gzip.cmake
    DEPENDS ${PROJECT_BINARY_DIR}/${file} ${PROJECT_SOURCE_DIR}/cmake/Gzip.cmake
    VERBATIM)
  list(APPEND _gzip_outputs ${PROJECT_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(zentlog_gzipped_docs ALL DEPENDS ${_gzip_outputs})
foreach(page ${_pages})
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${_packaging}/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The service of zentlog-station. Debian 12 keeps units in /lib/systemd/system, outside the /usr
# of the package; an install into another prefix (`cmake --install --prefix DIR`) puts it in
# DIR/lib/systemd/system instead of writing to the system, with ExecStart naming DIR's program.
set(_unit_source ${_packaging}/zentlog-station.service)
set(_unit_staged ${PROJECT_BINARY_DIR}/packaging/zentlog-station.service)
string(CONFIGURE [[
  set(_unit_dir "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(_unit_dir /lib/systemd/system)
  endif()
  file(READ "@_unit_source@" _unit)
  string(REPLACE "ExecStart=/usr/bin/" "ExecStart=${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@/" _unit "${_unit}")
  file(WRITE "@_unit_staged@" "${_unit}")
  file(INSTALL "@_unit_staged@" DESTINATION "${_unit_dir}"
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
]] _install_unit @ONLY)
install(CODE "${_install_unit}")
# The package is not uploaded to Debian, so its first changelog entry closes no request for it.
install(FILES ${_packaging}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME zentlog)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zentlog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZENTLOG developers")
set(CPACK_PACKAGE_CONTACT "${ZENTLOG_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data acquisition beside water-quality measuring stations")
# Lines of at most 80 characters once the package indents them.
set(CPACK_PACKAGE_DESCRIPTION
  "ZENTLOG polls up to four water-quality measuring stations (pH,
conductivity, resistivity, ORP, oxygen, flow, chlorine, turbidity) on one
serial line with a Modbus RTU master, shows each value with its unit and the
water temperature, and records every reading in an SQLite history. It also
resets data loggers and extracts their files into tab-separated text for
spreadsheets.

zentlog-station runs the same measurement without a display, as a systemd
service for an unattended station (installed, not enabled).

Command-line tools come with it: zentlog-poll reads one station,
zentlog-extract extracts a logger file, zentlog-history exports the history,
and zentlog-sim simulates stations on a pseudo-terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZENTLOG_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZENTLOG_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by Qt at run time, so dpkg-shlibdeps cannot see them: the SQLite driver of the history and
# the platform plugins (xcb, wayland, offscreen) of the windows.
# adduser makes the system user of zentlog-station in the postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins, adduser")
# The service's user and folder (postinst), its stop on removal (prerm), its links on purge
# (postrm).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_packaging}/debian/postinst ${_packaging}/debian/prerm ${_packaging}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
