# cmake --install: the libraries, their headers, the command, a CMake package
# (find_package(qorl_multimodal) gives qorl::multimodal) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(QORL_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qorl_multimodal)

install(TARGETS qorl_common qorl_core qorl_inference qorl_pipeline qorl_clients qorl_multimodal
  EXPORT qorl_multimodalTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS qorl-multimodal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Headers keep the paths they are included by, below the project's own directory
# (QORL_INSTALL_INCLUDEDIR), so that only that directory sits at the top of the include tree.
install(DIRECTORY src/ clients host/qorl_core host/qorl_inference host/qorl_pipeline
  DESTINATION ${QORL_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.hpp"
  PATTERN export_checks EXCLUDE
  PATTERN s3rver EXCLUDE)

install(EXPORT qorl_multimodalTargets NAMESPACE qorl:: DESTINATION ${QORL_PACKAGE_DIR})
configure_package_config_file(cmake/qorl_multimodalConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qorl_multimodalConfig.cmake
  INSTALL_DESTINATION ${QORL_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qorl_multimodalConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/qorl_multimodalConfig.cmake
  ${PROJECT_BINARY_DIR}/qorl_multimodalConfigVersion.cmake
  cmake/QorlLibraries.cmake
  DESTINATION ${QORL_PACKAGE_DIR})

# The pkg-config file finds the installation relative to itself, so the tree can be moved.
file(RELATIVE_PATH QORL_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(cmake/qorl_multimodal.pc.in ${PROJECT_BINARY_DIR}/qorl_multimodal.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qorl_multimodal.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
