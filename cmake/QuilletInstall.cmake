# What `cmake --install` puts under the prefix, by component:
#   library      libquillet.so.1 (Quillet.dll), the header, quillet.pc, the CMake package
#   cli          the quillet program, its manual page and bash completion
#   standin      the stand-in client library, for machines without the real one
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(NOT WIN32)
  # libquillet.so.1.<minor>.<patch>, soname libquillet.so.1. Installed files find their
  # neighbours relative to themselves, never in the build tree: the library its client library
  # beside it, the program the library in ../lib.
  file(RELATIVE_PATH bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(quillet PROPERTIES VERSION ${PROJECT_VERSION}
                                           SOVERSION ${PROJECT_VERSION_MAJOR}
                                           INSTALL_RPATH "$ORIGIN")
  set_target_properties(quillet_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
endif()

install(TARGETS quillet
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                NAMELINK_COMPONENT library
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
install(FILES include/quillet.h include/quillet_result_text.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT library)

# The package configuration names the installed files relative to the prefix.
set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Quillet)
if(WIN32)
  set(quillet_location ${CMAKE_INSTALL_BINDIR}/Quillet.dll)
  set(quillet_import ${CMAKE_INSTALL_LIBDIR}/Quillet.dll.a)
else()
  set(quillet_soname libquillet.so.${PROJECT_VERSION_MAJOR})
  set(quillet_location ${CMAKE_INSTALL_LIBDIR}/libquillet.so.${PROJECT_VERSION})
endif()
configure_package_config_file(cmake/package/QuilletConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/QuilletConfig.cmake
                              INSTALL_DESTINATION ${config_dir}
                              PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
# 1.x hosts keep working with any later 1.y: the exports and their meaning do not change.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuilletConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuilletConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/QuilletConfigVersion.cmake
        DESTINATION ${config_dir} COMPONENT library)

if(NOT WIN32)
  # Found from its own folder, so the prefix may move after installing.
  file(RELATIVE_PATH pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  file(RELATIVE_PATH prefix_to_lib ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH prefix_to_include ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
  configure_file(cmake/package/quillet.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quillet.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillet.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT library)
endif()

if(NOT QUILLET_BUILD_FUZZERS)
  install(TARGETS quillet_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
  if(NOT WIN32)
    install(FILES ${PROJECT_BINARY_DIR}/cli/quillet.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT cli)
    install(FILES ${PROJECT_BINARY_DIR}/cli/quillet.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillet
            COMPONENT cli)
  endif()
endif()

if(TARGET sqlwntm AND QUILLET_STANDIN AND NOT WIN32)
  install(TARGETS sqlwntm LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT standin)
endif()
