# What `cmake --install` puts under the prefix, by component:
#   library      libquillet.so.1 (Quillet.dll), the header, quillet.pc, the CMake package
#   cli          the quillet program, its manual page and bash completion
#   standin      the stand-in client library, for machines without the real one
# On Windows the DLL and the program are installed stripped, each with its debug information
# in a file of its own beside it (Quillet.dll.debug), linked by name for debuggers.
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
if(WIN32)
  # The export list, for hosts that make their own import library.
  install(FILES ${QUILLET_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
endif()

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

if(WIN32)
  find_program(QUILLET_OBJCOPY NAMES ${CMAKE_OBJCOPY} i686-w64-mingw32-objcopy REQUIRED)
  foreach(component_file IN ITEMS library:Quillet.dll cli:quillet.exe)
    string(REPLACE ":" ";" parts ${component_file})
    list(GET parts 0 component)
    list(GET parts 1 file)
    install(CODE "
      set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${file}\")
      execute_process(COMMAND \"${QUILLET_OBJCOPY}\" --only-keep-debug \"\${file}\" \"\${file}.debug\"
                      COMMAND_ERROR_IS_FATAL ANY)
      execute_process(COMMAND \"${QUILLET_OBJCOPY}\" --strip-all
                              \"--add-gnu-debuglink=\${file}.debug\" \"\${file}\"
                      COMMAND_ERROR_IS_FATAL ANY)
      message(STATUS \"Stripped: \${file}, its debug information in \${file}.debug\")"
      COMPONENT ${component})
  endforeach()
  install(FILES README.md DESTINATION . COMPONENT library)
endif()

if(TARGET sqlwntm AND QUILLET_STANDIN AND NOT WIN32)
  install(TARGETS sqlwntm LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT standin)
endif()

# cpack: the Windows ZIP, or the Debian packages (one per component).
set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VENDOR "the Quillet developers")
set(CPACK_PACKAGE_CONTACT "Quillet developers <dev@quillet.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "One-call administration of SQLBase database servers")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES OFF)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Quillet-${PROJECT_VERSION}-win32)
  set(CPACK_COMPONENTS_ALL library cli)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL library cli)
  if(QUILLET_STANDIN)
    list(APPEND CPACK_COMPONENTS_ALL standin)
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION database)
  set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
  # The client library that libquillet.so needs is either the real one, which no Debian
  # package provides, or the stand-in: the dependencies are named here rather than computed.
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libquillet)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12)")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SUGGESTS quillet-standin)
  set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
      "One-call administration of SQLBase database servers: the library\n"
      "libquillet.so.1, its headers, pkg-config file and CMake package. It needs the\n"
      "SQLBase client library libsqlwntm.so, or the stand-in of quillet-standin.")
  set(CPACK_DEBIAN_CLI_PACKAGE_NAME quillet)
  set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS
      "libquillet (= ${PROJECT_VERSION}), libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
  set(CPACK_DEBIAN_CLI_DESCRIPTION
      "One-call administration of SQLBase database servers: the command line quillet,\n"
      "its manual page and bash completion.")
  set(CPACK_DEBIAN_STANDIN_PACKAGE_NAME quillet-standin)
  set(CPACK_DEBIAN_STANDIN_PACKAGE_DEPENDS "libsqlite3-0, libc6 (>= 2.34), libstdc++6 (>= 12)")
  set(CPACK_DEBIAN_STANDIN_PACKAGE_CONFLICTS "")
  set(CPACK_DEBIAN_STANDIN_DESCRIPTION
      "A stand-in for the SQLBase client library over SQLite, for tests and demonstrations:\n"
      "libsqlwntm.so with servers and databases in local folders.")
endif()
include(CPack)
