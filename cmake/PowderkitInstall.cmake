# Install rules: the shared core and the phase layer with their headers, one
# CMake package (find_package(powderkit) gives powderkit::powderkit and
# powderkit::powderkit_phase) and a pkg-config file for each library. The
# installed tree can be moved: the libraries find each other through
# $ORIGIN, the CMake files and the pkg-config files locate the prefix from
# where they lie.
include(CMakePackageConfigHelpers)

set_target_properties(powderkit PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS powderkit powderkit_phase
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

# The pkg-config files name the prefix relative to their own folder
# (${pcfiledir}), so that `cmake --install --prefix` anywhere gives working
# files: two steps up from lib/pkgconfig, three from lib/<multiarch>/pkgconfig.
set(PK_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(PK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH PK_PC_UP /prefix/${PK_PKGCONFIG_DIR} /prefix)
  string(REGEX REPLACE "/$" "" PK_PC_UP "${PK_PC_UP}")
  set(PK_PC_PREFIX "\${pcfiledir}/${PK_PC_UP}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(PK_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(PK_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
foreach(pc powderkit powderkit_phase)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${PK_PKGCONFIG_DIR})
endforeach()

# The `powderkit` command installs itself, from cli/CMakeLists.txt, into
# bin/ with a run path of $ORIGIN/../<libdir>.
