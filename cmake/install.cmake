# Install rules, the CMake package (find_package(vormesta)) and the CPack packages.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vormesta)

set_target_properties(vormesta_step PROPERTIES EXPORT_NAME step)
install(TARGETS vormesta vormesta_step EXPORT vormestaTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/vormesta.1 docs/vormesta-step.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The responder and the servers' adapters, headers alone.
install(DIRECTORY include/vormesta DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES README.md CHANGELOG.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The README's links reach its pages beside it, as in the sources.
file(GLOB vormesta_pages docs/*.md docs/*.svg)
install(FILES ${vormesta_pages} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(EXPORT vormestaTargets NAMESPACE vormesta:: DESTINATION ${package_dir})

configure_package_config_file(cmake/vormestaConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vormestaConfig.cmake INSTALL_DESTINATION ${package_dir})
# The tool is run, never linked: any consumer may use it, 32-bit or 64-bit.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vormestaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vormestaConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/vormestaConfigVersion.cmake
              cmake/VormestaEmbed.cmake
        DESTINATION ${package_dir})

set(CPACK_PACKAGE_NAME vormesta)
set(CPACK_PACKAGE_VENDOR "vormesta")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "vormesta developers <vormesta@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Packages land in the build tree, wherever cpack is run from.
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR "TGZ;DEB")
endif()
include(CPack)
