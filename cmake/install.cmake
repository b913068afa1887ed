# What `cmake --install` and `cpack -G DEB` put on a system: both programs,
# a manual page for each (made from their --help by help2man), bash
# completion for quillon-cli, and the window's desktop entry and icon (in
# app/CMakeLists.txt).
include(GNUInstallDirs)

install(TARGETS quillon-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/res/completion/quillon-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillon-cli)

find_program(QUILLON_HELP2MAN help2man)
if(QUILLON_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  function(quillon_manual_page program summary)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    # Compressed, as Debian keeps manual pages.
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${QUILLON_HELP2MAN} --no-info --section 1 --name ${summary}
              --include ${PROJECT_SOURCE_DIR}/res/man/${program}.h2m --output ${page}
              $<TARGET_FILE:${program}>
      COMMAND gzip -n -9 -f ${page}
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/res/man/${program}.h2m
      COMMENT "Manual page of ${program}"
      VERBATIM)
    add_custom_target(${program}-manual ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endfunction()
  quillon_manual_page(quillon-cli "rewrite a set-top box's flash memory over a serial line")
  if(TARGET quillon)
    quillon_manual_page(quillon "the window of the set-top box flash tool")
  endif()
else()
  message(STATUS "help2man not found (or cross-compiling): no manual pages")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "rewrites a set-top box's flash memory over a serial line")
set(CPACK_PACKAGE_CONTACT "Quillon maintainers <maintainers@quillon.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The libraries the programs link (Qt, the C++ runtime) become the package's
# dependencies, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
