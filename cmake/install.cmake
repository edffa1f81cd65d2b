# cmake --install: the header, the library (DLL, import library, .so) and a
# package config so a host's CMake can find_package(kovic).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
install(TARGETS kovic EXPORT kovicTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kovic.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT kovicTargets NAMESPACE kovic:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kovic)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kovicConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/kovicConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kovic)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kovicConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kovicConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/kovicConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kovic)
