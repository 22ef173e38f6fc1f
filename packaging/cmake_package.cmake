# Included by CMakeLists.txt and windows.cmake, after the library is
# installed into the export set KorvaneTintwellTargets.
# CMake package: find_package(KorvaneTintwell CONFIG) -> KorvaneTintwell::KorvaneTintwell.
install(EXPORT KorvaneTintwellTargets
    NAMESPACE KorvaneTintwell::
    DESTINATION ${cmake_package_dir})
configure_package_config_file(KorvaneTintwellConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/KorvaneTintwellConfig.cmake
    INSTALL_DESTINATION ${cmake_package_dir})
# A new major version (a new SONAME on Linux) breaks callers; only it must match.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KorvaneTintwellConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${CMAKE_CURRENT_BINARY_DIR}/KorvaneTintwellConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/KorvaneTintwellConfigVersion.cmake
    DESTINATION ${cmake_package_dir})

