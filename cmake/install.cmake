# Installation as a desktop program:
#   <prefix>/lib/orvalis/         the executable and its data files (it finds
#                                 them beside itself through /proc/self/exe)
#   <prefix>/bin/orvalis          relative symbolic link to the executable
#   <prefix>/share/applications, icons/hicolor, metainfo, man/man1
# Needs the targets orvalis and orvalis_data and the list DATA_OUTPUTS.
include(GNUInstallDirs)

set(ORVALIS_APP_ID example.orvalis.Orvalis)
set(ORVALIS_INSTALL_PKGDIR "lib/orvalis" CACHE STRING
    "Folder below the prefix for the executable and its data files")
set(ORVALIS_DIST ${CMAKE_SOURCE_DIR}/dist)
set(ORVALIS_STAGE ${CMAKE_BINARY_DIR}/install-stage)
file(MAKE_DIRECTORY ${ORVALIS_STAGE})

# The language files go beside the executable in the build folder too, so a
# build run speaks the user's language as an installed one does.
file(GLOB ORVALIS_LANGUAGE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/*.lng)
list(FILTER ORVALIS_LANGUAGE_SOURCES EXCLUDE REGEX "/default\\.lng$")
set(ORVALIS_LANGUAGE_OUTPUTS)
foreach(src ${ORVALIS_LANGUAGE_SOURCES})
  get_filename_component(name ${src} NAME)
  add_custom_command(OUTPUT ${ORVALIS_OUT}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src} ${ORVALIS_OUT}/${name}
    DEPENDS ${src})
  list(APPEND ORVALIS_LANGUAGE_OUTPUTS ${ORVALIS_OUT}/${name})
endforeach()
add_custom_target(orvalis_languages ALL DEPENDS ${ORVALIS_LANGUAGE_OUTPUTS})
add_dependencies(orvalis_data orvalis_languages)
# The committed language files are what their tables in data/lang make.
find_program(PYTHON3_PROGRAM python3)
if(PYTHON3_PROGRAM)
  add_test(NAME LanguageFilesUpToDate
           COMMAND ${PYTHON3_PROGRAM} ${CMAKE_SOURCE_DIR}/scripts/update-translations.py --check)
endif()

# Marks the installed copy: its configuration goes to $XDG_CONFIG_HOME even
# when its folder is writable (root, a private prefix). Never in the build folder.
file(WRITE ${ORVALIS_STAGE}/installed
     "This copy of Orvalis is installed; its configuration lives in $XDG_CONFIG_HOME/orvalis.\n")

# bin/orvalis -> ../lib/orvalis/orvalis, made here and installed as a link.
file(RELATIVE_PATH ORVALIS_LINK_TARGET /${CMAKE_INSTALL_BINDIR} /${ORVALIS_INSTALL_PKGDIR}/orvalis)
file(REMOVE ${ORVALIS_STAGE}/orvalis)
file(CREATE_LINK ${ORVALIS_LINK_TARGET} ${ORVALIS_STAGE}/orvalis SYMBOLIC)

# The manual page carries the version; Debian wants it compressed, without
# a time stamp in the gzip header.
configure_file(${ORVALIS_DIST}/orvalis.1.in ${ORVALIS_STAGE}/orvalis.1 @ONLY)
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT ${ORVALIS_STAGE}/orvalis.1.gz
  COMMAND ${GZIP_PROGRAM} -9nkf ${ORVALIS_STAGE}/orvalis.1
  DEPENDS ${ORVALIS_STAGE}/orvalis.1 ${ORVALIS_DIST}/orvalis.1.in
  VERBATIM)
add_custom_target(orvalis_manpage ALL DEPENDS ${ORVALIS_STAGE}/orvalis.1.gz)

install(TARGETS orvalis RUNTIME DESTINATION ${ORVALIS_INSTALL_PKGDIR})
install(FILES ${DATA_OUTPUTS} ${ORVALIS_LANGUAGE_OUTPUTS} ${ORVALIS_STAGE}/installed
        DESTINATION ${ORVALIS_INSTALL_PKGDIR})
install(FILES ${ORVALIS_STAGE}/orvalis DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ORVALIS_DIST}/${ORVALIS_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ORVALIS_DIST}/${ORVALIS_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${ORVALIS_DIST}/icons/${ORVALIS_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${ORVALIS_DIST}/icons/${size}/${ORVALIS_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${ORVALIS_STAGE}/orvalis.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Installs into a temporary prefix and runs the installed program from there.
add_test(NAME InstalledProgram
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
    -DVERSION=${PROJECT_VERSION}
    -DPKGDIR=${ORVALIS_INSTALL_PKGDIR}
    -DBINDIR=${CMAKE_INSTALL_BINDIR}
    -DDATADIR=${CMAKE_INSTALL_DATADIR}
    -DMANDIR=${CMAKE_INSTALL_MANDIR}
    -DAPP_ID=${ORVALIS_APP_ID}
    -P ${CMAKE_SOURCE_DIR}/cmake/install_test.cmake)
set_tests_properties(InstalledProgram PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8")

# The desktop entry and the AppStream data as the desktop tools read them.
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  add_test(NAME DesktopEntryValid COMMAND ${DESKTOP_FILE_VALIDATE} ${ORVALIS_DIST}/${ORVALIS_APP_ID}.desktop)
  set_tests_properties(DesktopEntryValid PROPERTIES FAIL_REGULAR_EXPRESSION "error|warning")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  add_test(NAME MetainfoValid COMMAND ${APPSTREAMCLI} validate --no-net ${ORVALIS_DIST}/${ORVALIS_APP_ID}.metainfo.xml)
endif()
