# `cmake --install` puts qzhost in bin/, the module in lib/qzhost/modules/
# (found by qzhost relative to itself) and the README in share/doc/qzhost/;
# `cpack -G DEB` makes a Debian package of the same files.
install(TARGETS qzhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vorlux LIBRARY DESTINATION ${QZHOST_INSTALL_MODULE_DIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qzhost)

set(CPACK_PACKAGE_NAME qzhost)
set(CPACK_PACKAGE_VENDOR "Vorlux")
set(CPACK_PACKAGE_CONTACT "Vorlux developers <dev@vorlux.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host for pixel-filter modules, with the Vorlux Mandelbrot filter")
set(CPACK_PACKAGE_DESCRIPTION
  "qzhost loads pixel-filter module files, renders scenes through their filters on all cores to\n"
  "PNG, OpenEXR or video, and shows a module's panel and preset shelf as a web page on localhost.\n"
  "It ships with vorlux.p, a filter that shows the Mandelbrot set through an animatable view.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The run-time libraries come from the binaries themselves (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ffmpeg)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS slurm-client)
include(CPack)
