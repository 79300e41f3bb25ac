# Install rules and packages.
#   Linux:   cpack -G DEB  -> trimsense_<version>_amd64.deb (programs, libraries)
#                             trimsense-dev_<version>_amd64.deb (header, pkg-config file, example)
#   Windows: cpack -G ZIP  -> trimsense-<version>-win64.zip / -win32.zip
set(CPACK_PACKAGE_NAME trimsense)
set(CPACK_PACKAGE_VENDOR "The Trimsense developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "KP-S410 slip printer sensor adjustment tool")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/License.txt)
# Packaging installs what the build already made; it does not rebuild
# every test program first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(TW_PROGRAMS Trimsense Kitdrop portwire-ports)
if(TARGET TrimsenseGUI)
  list(APPEND TW_PROGRAMS TrimsenseGUI)
endif()
set(TW_PROGRAMS_PRESENT)
foreach(t ${TW_PROGRAMS})
  if(TARGET ${t})
    list(APPEND TW_PROGRAMS_PRESENT ${t})
  endif()
endforeach()

if(WIN32)
  # One flat folder: Kitdrop.exe beside the six files it copies. The manual is
  # laid out by the native build (Qt is not cross-built); TW_MANUAL_PDF names it.
  set(TW_MANUAL_PDF "${CMAKE_SOURCE_DIR}/build/bin/Manual.pdf" CACHE FILEPATH "Manual.pdf of the native build")
  install(TARGETS ${TW_PROGRAMS_PRESENT} Portwire lnkioapi RUNTIME DESTINATION . LIBRARY DESTINATION .)
  install(FILES ${CMAKE_BINARY_DIR}/bin/License.txt DESTINATION .)
  if(EXISTS ${TW_MANUAL_PDF})
    install(FILES ${TW_MANUAL_PDF} DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  # Two packages: everything below is the program package unless it says
  # otherwise; the development package adds what integrators build with.
  set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME runtime)
  # Programs and libraries live together in /usr/lib/trimsense, so each program
  # finds the libraries (and the front end the console program) in its own
  # folder; /usr/bin holds links to the programs. The links resolve to the real
  # file, so the programs' own folder is /usr/lib/trimsense.
  set(TW_PKG_LIB lib/trimsense)
  set(TW_PKG_DOC share/doc/trimsense)
  install(TARGETS ${TW_PROGRAMS_PRESENT} RUNTIME DESTINATION ${TW_PKG_LIB})
  # A program outside this folder that links the library (an integrator's,
  # built with pkg-config) still has the port-access library found beside it:
  # the installed library's own run path names its folder.
  set_target_properties(Portwire PROPERTIES INSTALL_RPATH "\$ORIGIN")
  install(TARGETS Portwire lnkioapi LIBRARY DESTINATION ${TW_PKG_LIB}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

  set(TW_LINKS ${CMAKE_BINARY_DIR}/package-links)
  file(MAKE_DIRECTORY ${TW_LINKS}/bin ${TW_LINKS}/lib)
  foreach(t ${TW_PROGRAMS_PRESENT})
    file(CREATE_LINK ../lib/trimsense/${t} ${TW_LINKS}/bin/${t} SYMBOLIC)
    install(FILES ${TW_LINKS}/bin/${t} DESTINATION bin)
  endforeach()
  # Kitdrop copies the documents from its own folder as well.
  set(TW_PKG_DOCS License.txt)
  if(TARGET manual)
    list(APPEND TW_PKG_DOCS Manual.pdf)
  endif()
  foreach(f ${TW_PKG_DOCS})
    file(CREATE_LINK ../../share/doc/trimsense/${f} ${TW_LINKS}/lib/${f} SYMBOLIC)
    install(FILES ${TW_LINKS}/lib/${f} DESTINATION ${TW_PKG_LIB})
  endforeach()

  list(TRANSFORM TW_PKG_DOCS PREPEND ${CMAKE_BINARY_DIR}/bin/)
  install(FILES ${TW_PKG_DOCS} ${CMAKE_SOURCE_DIR}/packaging/linux/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
          DESTINATION ${TW_PKG_DOC})
  foreach(t ${TW_PROGRAMS_PRESENT})
    install(FILES ${CMAKE_BINARY_DIR}/doc/${t}.1.gz DESTINATION share/man/man1)
  endforeach()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/70-trimsense.rules DESTINATION lib/udev/rules.d)
  if(TARGET TrimsenseGUI)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/trimsense.desktop DESTINATION share/applications)
    install(FILES ${CMAKE_SOURCE_DIR}/gui/qt/trimsense.svg DESTINATION share/icons/hicolor/scalable/apps)
  endif()

  # Development package: the public headers, portwire.pc in the multiarch
  # pkg-config folder and the example client. The library stays private in
  # /usr/lib/trimsense; the .pc file links against it there and records that
  # folder as the program's run path, so
  #   cc app.c $(pkg-config --cflags --libs portwire)
  # builds a program that finds the library when it runs.
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(TW_PKGCONFIG_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/pkgconfig)
  else()
    set(TW_PKGCONFIG_DIR lib/pkgconfig)
  endif()
  set(TW_DEV_DOC share/doc/trimsense-dev)
  set(TW_PC_PREFIX /usr)
  set(TW_PC_LIBDIR ${TW_PC_PREFIX}/${TW_PKG_LIB})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/portwire.pc.in ${CMAKE_BINARY_DIR}/portwire.pc @ONLY)
  install(FILES ${CMAKE_SOURCE_DIR}/include/portwire.h ${CMAKE_SOURCE_DIR}/include/portwire_ncs.h
          DESTINATION include COMPONENT development)
  install(FILES ${CMAKE_BINARY_DIR}/portwire.pc DESTINATION ${TW_PKGCONFIG_DIR} COMPONENT development)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
          DESTINATION ${TW_DEV_DOC} COMPONENT development)
  install(FILES ${CMAKE_SOURCE_DIR}/examples/portwire_example.c DESTINATION ${TW_DEV_DOC}/examples
          COMPONENT development)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL runtime development)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME trimsense)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME trimsense-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "trimsense (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
  # First line: the synopsis.
  set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
      "Portwire development files of the KP-S410 slip printer tool\n"
      "The C header of the Portwire communication library (the KPC_ port\n"
      "functions and the NCS network settings functions), its pkg-config\n"
      "file and a commented example client, for point-of-sale programs that\n"
      "talk to a KP-S410 slip printer through the library of trimsense.")
  string(REPLACE ";" "" CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "${CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Trimsense developers <trimsense@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # (The libraries' folder lies below /usr/lib, so CPack adds an ldconfig call
  # to the maintainer scripts; harmless, lintian only warns.)
  # The private libraries in /usr/lib/trimsense are found there by the programs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Adjusts the slip paper sensor of a KP-S410 point-of-sale slip printer\n"
      "connected over a serial, parallel, USB, network or Bluetooth serial port.\n"
      "Contains the console program Trimsense, the graphical front end\n"
      "TrimsenseGUI, the installer helper Kitdrop, the port listing\n"
      "portwire-ports, the communication libraries,\n"
      "the user manual and a udev rule for vendor-class USB printers.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  # Each package's description begins with its own synopsis; CPack would put
  # the one summary above both.
  set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/trimsense")
endif()

include(CPack)
