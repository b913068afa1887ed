# What `cmake --install` and `cpack -G DEB` put on a system: the programs
# with a manual page each (quillon-cli one per command as well, all made
# from --help by help2man), the settings file's page, bash completion for
# quillon-cli, each window's desktop entry and icons, the station
# service, installed but not enabled, and the fleet's alert rules and
# dashboard.
include(GNUInstallDirs)

install(TARGETS quillon-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/res/completion/quillon-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillon-cli)

set(QUILLON_MAN ${PROJECT_SOURCE_DIR}/res/man)
find_program(QUILLON_HELP2MAN help2man)
if(QUILLON_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  # A window program's page, from its --help and res/man/PROGRAM.h2m;
  # compressed, as Debian keeps manual pages.
  function(quillon_manual_page program summary)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${QUILLON_HELP2MAN} --no-info --section 1 --name ${summary}
              --include ${QUILLON_MAN}/${program}.h2m --output ${page}
              $<TARGET_FILE:${program}>
      COMMAND gzip -n -9 -f ${page}
      DEPENDS ${program} ${QUILLON_MAN}/${program}.h2m
      COMMENT "Manual page of ${program}"
      VERBATIM)
    add_custom_target(${program}-manual ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endfunction()

  # quillon-cli's pages: a command that `quillon-cli --help` lists gets its
  # page without a change here.
  file(GLOB cli_page_sources CONFIGURE_DEPENDS ${QUILLON_MAN}/*.h2m)
  set(cli_pages ${CMAKE_BINARY_DIR}/man/cli)
  add_custom_command(
    OUTPUT ${cli_pages}.stamp
    COMMAND ${QUILLON_MAN}/cli_pages.sh $<TARGET_FILE:quillon-cli> ${QUILLON_MAN} ${cli_pages}
    COMMAND ${CMAKE_COMMAND} -E touch ${cli_pages}.stamp
    DEPENDS quillon-cli ${QUILLON_MAN}/cli_pages.sh ${cli_page_sources}
    COMMENT "Manual pages of quillon-cli and its commands"
    VERBATIM)
  add_custom_target(quillon-cli-manual ALL DEPENDS ${cli_pages}.stamp)
  install(DIRECTORY ${cli_pages}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found (or cross-compiling): no manual pages of the programs")
endif()

# A window program whole: the program, its manual page, its desktop entry
# res/PROGRAM.desktop and its icons, each given as SIZE:FILE ("scalable",
# "16x16") and installed as PROGRAM.svg of that size.
function(quillon_install_window program summary)
  if(NOT TARGET ${program})
    return()
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(COMMAND quillon_manual_page)
    quillon_manual_page(${program} ${summary})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/res/${program}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(icon ${ARGN})
    string(REGEX REPLACE ":.*" "" size ${icon})
    string(REGEX REPLACE "^[^:]*:" "" file ${icon})
    install(FILES ${PROJECT_SOURCE_DIR}/${file} RENAME ${program}.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
  endforeach()
endfunction()

quillon_install_window(quillon "the window of the set-top box flash tool"
  scalable:res/icons/132.svg 16x16:res/icons/132-16.svg 32x32:res/icons/132-32.svg)

if(NOT WIN32)
  # The settings file's page, by hand: there is no --help to make it from.
  set(settings_page ${CMAKE_BINARY_DIR}/man/quillon.INI.5)
  configure_file(${QUILLON_MAN}/quillon.INI.5.in ${settings_page} @ONLY)
  add_custom_command(
    OUTPUT ${settings_page}.gz
    COMMAND gzip -n -9 -c ${settings_page} > ${settings_page}.gz
    DEPENDS ${settings_page}
    COMMENT "Manual page of quillon.INI")
  add_custom_target(quillon-settings-manual ALL DEPENDS ${settings_page}.gz)
  install(FILES ${settings_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)

  # The station service and its user. Units under the prefix's lib/, not
  # the multiarch library folder: /usr/lib/systemd/system for the package.
  install(FILES ${PROJECT_SOURCE_DIR}/res/systemd/quillon-station@.service
          DESTINATION lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/res/systemd/quillon.sysusers
          DESTINATION lib/sysusers.d RENAME quillon.conf)
  # The adapters' latency timer, lowered by udev as they appear.
  install(FILES ${PROJECT_SOURCE_DIR}/res/udev/60-quillon-latency-timer.rules
          DESTINATION lib/udev/rules.d)

  # A fleet's alert rules and dashboard, for the Prometheus and Grafana
  # that scrape the stations' --metrics (docs/metrics.md).
  install(FILES ${PROJECT_SOURCE_DIR}/res/prometheus/quillon.rules.yml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon/prometheus)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/grafana-dashboard.json
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon/grafana RENAME quillon.json)

  install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillon)
  set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_command(
    OUTPUT ${changelog}
    COMMAND gzip -n -9 -c ${PROJECT_SOURCE_DIR}/res/debian/changelog > ${changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/res/debian/changelog
    COMMENT "The package's changelog")
  add_custom_target(quillon-changelog ALL DEPENDS ${changelog})
  install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillon)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rewrites a set-top box's flash memory over a serial line")
set(CPACK_PACKAGE_DESCRIPTION [=[
Quillon updates the flash memory of set-top boxes through their boot loader
on a serial line: a USB serial adapter or a built-in port, wired to the
box's service port. It hands the boot loader a numbered series of
checksummed command records made from a boot folder, then follows the box
while it erases and burns, and ends with the box's verdict.

The window, quillon, updates one box at the press of a button.
quillon-cli does the same from scripts and runs a station: many boxes at
once, box after box, with a results log, a trace per box and a report of
the yield. It also plays a box's boot loader for trying all of this
without a box. The service quillon-station@.service keeps a bench running.]=])
set(CPACK_PACKAGE_CONTACT "Quillon maintainers <maintainers@quillon.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The libraries the programs link (Qt, the C++ runtime) become the package's
# dependencies, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Stripped programs; their debugging symbols go to quillon-dbgsym.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debug_package.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/res/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
