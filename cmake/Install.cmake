include(CMakePackageConfigHelpers)

install(TARGETS kmztile EXPORT kmztileTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS kmztile_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT kmztileTargets NAMESPACE kmztile:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kmztile)

configure_package_config_file(cmake/kmztileConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kmztileConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kmztile)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kmztileConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kmztileConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/kmztileConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kmztile)

configure_file(cmake/kmztile.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kmztile.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kmztile.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(DIRECTORY samples/city DESTINATION ${CMAKE_INSTALL_DATADIR}/kmztile/samples)
