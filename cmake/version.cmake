# What qzhost says about itself: its version (the project's, set once in
# project()) and where an installed qzhost finds its modules, relative to its
# own folder, so that any install prefix works, a shared one that render
# nodes mount included.
include(GNUInstallDirs)
set(QZHOST_INSTALL_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/qzhost/modules)
file(RELATIVE_PATH QZHOST_MODULES_FROM_BIN
  /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${QZHOST_INSTALL_MODULE_DIR})
configure_file(${PROJECT_SOURCE_DIR}/qzhost/base/version.h.in ${PROJECT_BINARY_DIR}/generated/qzhost/base/version.h @ONLY)
