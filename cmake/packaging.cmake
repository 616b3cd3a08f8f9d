# `cmake --install` and the Debian package: the host program, the shared
# plug-in, the frei0r filter where ffmpeg and MLT look for filters
# (lib/frei0r-1 under the prefix; Debian's tools search /usr/lib/frei0r-1),
# the manual page and the README. Without the host program (ZEVERIVE_CLI=OFF)
# the package carries the plug-in and the filter.
include(GNUInstallDirs)

install(TARGETS zeverive LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS zeverive_frei0r LIBRARY DESTINATION lib/frei0r-1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/frei0r-before-after.png DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

# The manual page is made from the program's own --help at every build, so
# it cannot say other than the program does.
if(TARGET zeverive_cli)
  install(TARGETS zeverive_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  find_program(HELP2MAN help2man REQUIRED)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/zeverive.1
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
            --name=${PROJECT_DESCRIPTION} --output=${CMAKE_BINARY_DIR}/zeverive.1 $<TARGET_FILE:zeverive_cli>
    DEPENDS zeverive_cli
    VERBATIM)
  add_custom_target(zeverive_manual ALL DEPENDS ${CMAKE_BINARY_DIR}/zeverive.1)
  install(FILES ${CMAKE_BINARY_DIR}/zeverive.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zeverive)
set(CPACK_PACKAGE_CONTACT "Zeverive developers <zeverive@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpeg, melt")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
