# Run by cpack after it has built the package. CPack gives any package with
# a shared object under /usr/lib maintainer scripts that run ldconfig; ours
# are plug-ins in directories of their own (/usr/lib/zeverive,
# /usr/lib/frei0r-1), which the dynamic linker's cache never holds and
# Debian wants no such scripts for. The package is rebuilt without them.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
