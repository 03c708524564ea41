# Install rules: the shared library, the header, a CMake package config
# (find_package(powderkit) gives powderkit::powderkit) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS powderkit
  EXPORT powderkitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(PK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/powderkit)
install(EXPORT powderkitTargets NAMESPACE powderkit:: DESTINATION ${PK_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/powderkitConfig.cmake.in
  ${PROJECT_BINARY_DIR}/powderkitConfig.cmake INSTALL_DESTINATION ${PK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/powderkitConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/powderkitConfig.cmake
  ${PROJECT_BINARY_DIR}/powderkitConfigVersion.cmake DESTINATION ${PK_CMAKE_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/powderkit.pc.in
  ${PROJECT_BINARY_DIR}/powderkit.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/powderkit.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
