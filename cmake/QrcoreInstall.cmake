# Installation: headers, the shared library, the default error list and its English
# translation, a CMake package and a pkg-config file, so other projects use QRCore like any
# other library.
include(CMakePackageConfigHelpers)

install(TARGETS qrcore EXPORT qrcoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/qrcore DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(FILES ${QRCORE_ERROR_LIST} ${QRCORE_ERROR_LIST_EN} DESTINATION ${CMAKE_INSTALL_DATADIR}/qrcore)
install(FILES ${QRCORE_ERROR_LIST} DESTINATION ${CMAKE_INSTALL_BINDIR})

# ---- Windows: the run-time DLLs beside QRCore.dll, the definition file beside the import library ----
if(WIN32)
  install(FILES ${QRCORE_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${QRCORE_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME QRCore.def)
endif()
# ---- end Windows ----

set(QRCORE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qrcore)
install(EXPORT qrcoreTargets NAMESPACE qrcore:: DESTINATION ${QRCORE_CMAKE_DIR})
configure_package_config_file(cmake/qrcoreConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/qrcoreConfig.cmake
  INSTALL_DESTINATION ${QRCORE_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qrcoreConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qrcoreConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/qrcoreConfigVersion.cmake
  DESTINATION ${QRCORE_CMAKE_DIR})

# The pkg-config file finds its prefix relative to itself, so an installed tree can be moved.
file(RELATIVE_PATH QRCORE_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" QRCORE_PC_TO_PREFIX "${QRCORE_PC_TO_PREFIX}")
configure_file(cmake/qrcore.pc.in ${CMAKE_CURRENT_BINARY_DIR}/qrcore.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qrcore.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
