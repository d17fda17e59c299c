# cmake --install: the SDK (headers, CMake package), the host tools, and a runtime installation tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LIVEMODULE_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/LiveModule)
set(LIVEMODULE_RUNTIME_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/LiveModule/root)

set_target_properties(livemodule_sdk PROPERTIES EXPORT_NAME sdk)
install(TARGETS livemodule_sdk EXPORT LiveModuleTargets)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/LiveModule DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT LiveModuleTargets NAMESPACE LiveModule:: DESTINATION ${LIVEMODULE_CMAKE_INSTALL_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/LiveModuleConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/LiveModuleConfig.cmake
  INSTALL_DESTINATION ${LIVEMODULE_CMAKE_INSTALL_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR LIVEMODULE_RUNTIME_INSTALL_DIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/LiveModuleConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/LiveModuleConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/LiveModuleConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/LiveModuleModule.cmake
  DESTINATION ${LIVEMODULE_CMAKE_INSTALL_DIR})

install(TARGETS lm-host lm-pack catalogue-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(factory_destination ${LIVEMODULE_RUNTIME_INSTALL_DIR}/modules/LiveModuleFactory/64bit)
install(TARGETS LiveModuleFactory Log LIBRARY DESTINATION ${factory_destination})
install(TARGETS FileOperation RUNTIME DESTINATION ${factory_destination})
