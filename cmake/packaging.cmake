# `cmake --install` and the Debian package: the host program and the batch
# script, the plug-in in a directory of its own (one entry point, for hosts
# that load it by path; not a library to link against), the frei0r filter
# where ffmpeg and MLT look for filters (lib/frei0r-1 under the prefix;
# Debian's tools search /usr/lib/frei0r-1), Kdenlive's description of it,
# the manual pages, the bash completion, the licence, the changelog and the
# README. Without the host program (ZEVERIVE_CLI=OFF) the package carries
# the plug-in and the filter.
include(GNUInstallDirs)

install(TARGETS zeverive LIBRARY DESTINATION lib/zeverive)
install(TARGETS zeverive_frei0r LIBRARY DESTINATION lib/frei0r-1)
install(FILES ${ZEVERIVE_KDENLIVE_EFFECT} DESTINATION ${CMAKE_INSTALL_DATADIR}/kdenlive/effects)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB docs ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/docs/frei0r-before-after.png ${docs} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

if(TARGET zeverive_cli)
  install(TARGETS zeverive_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # zeverive-batch carries the project's version like the program.
  set(ZEVERIVE_BATCH ${CMAKE_BINARY_DIR}/zeverive-batch)
  configure_file(${CMAKE_SOURCE_DIR}/batch/zeverive-batch.in ${ZEVERIVE_BATCH} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  install(PROGRAMS ${ZEVERIVE_BATCH} DESTINATION ${CMAKE_INSTALL_BINDIR})

  # bash-completion loads a command's completion by the command's name; one
  # script serves both, reading the options from the command's --help.
  set(completions ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${CMAKE_SOURCE_DIR}/cli/completion.bash DESTINATION ${completions} RENAME zeverive)
  install(FILES ${CMAKE_SOURCE_DIR}/cli/completion.bash DESTINATION ${completions} RENAME zeverive-batch)

  # The manual pages are made from the programs' own --help and --version at
  # every build, so they cannot say other than the programs do. The help
  # holds the plug-in's labels in UTF-8: the page is read as UTF-8 and says
  # so on its first line, for man to convert where the terminal differs.
  find_program(HELP2MAN help2man REQUIRED)
  find_program(GZIP gzip REQUIRED)
  set(manuals)
  foreach(program zeverive zeverive-batch)
    if(program STREQUAL zeverive)
      set(command $<TARGET_FILE:zeverive_cli>)
      set(depends zeverive_cli)
      set(name "${PROJECT_DESCRIPTION}")
    else()
      set(command ${ZEVERIVE_BATCH})
      set(depends ${ZEVERIVE_BATCH})
      set(name "denoise video files in pieces over several machines with zeverive")
    endif()
    set(page ${CMAKE_BINARY_DIR}/${program}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --locale=C.UTF-8 --name=${name} --output=${page} ${command}
      COMMAND sed -i "1i '\\\\\" -*- coding: UTF-8 -*-" ${page}
      COMMAND ${GZIP} -9 -n -f ${page}
      DEPENDS ${depends}
      VERBATIM)
    list(APPEND manuals ${page}.gz)
  endforeach()
  add_custom_target(zeverive_manual ALL DEPENDS ${manuals})
  install(FILES ${manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Debian keeps the licence as the package's copyright file and wants the
# changelog compressed beside it. The changelog's newest entry must be the
# version above, so a release cannot forget it.
set(debian ${CMAKE_SOURCE_DIR}/cmake/debian)
file(STRINGS ${debian}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^zeverive \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the newest entry is not version ${PROJECT_VERSION}: ${newest}")
endif()
file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "\n$" "" licence "${licence}")
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REGEX REPLACE "\n" "\n " licence "${licence}")
configure_file(${debian}/copyright.in ${CMAKE_BINARY_DIR}/copyright @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${debian}/changelog ${CMAKE_BINARY_DIR}/changelog
  COMMAND ${GZIP} -9 -n -f ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${debian}/changelog
  VERBATIM)
add_custom_target(zeverive_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zeverive)
set(ZEVERIVE_MAINTAINER "Zeverive developers <zeverive@example.org>"
    CACHE STRING "The Debian package's maintainer, as \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${ZEVERIVE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
file(READ ${debian}/description CPACK_PACKAGE_DESCRIPTION)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, parallel, rsync")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "melt, kdenlive")
set(CPACK_STRIP_FILES ON)
set(CPACK_POST_BUILD_SCRIPTS ${debian}/drop_ldconfig_scripts.cmake)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
