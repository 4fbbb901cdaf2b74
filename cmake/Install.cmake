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

# The page of `kmztile view` and the built CesiumJS it loads (never fetched at
# run time): `npm ci` in viewer/ puts CesiumJS there, scripts/bootstrap.sh
# runs it. Only the browser build is installed, with Cesium's licences.
set(KMZTILE_VIEWER_SHARE ${CMAKE_INSTALL_DATADIR}/kmztile/viewer)
install(FILES viewer/index.html viewer/viewer.js viewer/viewer.css DESTINATION ${KMZTILE_VIEWER_SHARE})
set(KMZTILE_CESIUM ${PROJECT_SOURCE_DIR}/viewer/node_modules/cesium)
if(EXISTS ${KMZTILE_CESIUM}/Build/Cesium/Cesium.js)
  install(DIRECTORY ${KMZTILE_CESIUM}/Build/Cesium
    DESTINATION ${KMZTILE_VIEWER_SHARE}/node_modules/cesium/Build
    REGEX "/Build/Cesium/index\\.c?js$" EXCLUDE)
  install(FILES ${KMZTILE_CESIUM}/LICENSE.md ${KMZTILE_CESIUM}/ThirdParty.json
    DESTINATION ${KMZTILE_VIEWER_SHARE}/node_modules/cesium)
else()
  message(WARNING "CesiumJS is missing from viewer/node_modules (run scripts/bootstrap.sh): "
                  "an installed `kmztile view` would have no viewer")
endif()
