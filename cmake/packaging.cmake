# The Debian package: `cpack -G DEB` in the build folder (it installs below
# /usr whatever CMAKE_INSTALL_PREFIX says).
set(ORVALIS_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/orvalis)

# Debian wants the copyright file as it is and the changelog compressed,
# without a time stamp in the gzip header.
set(ORVALIS_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/install-stage/changelog.gz)
add_custom_command(OUTPUT ${ORVALIS_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/dist/debian/changelog ${CMAKE_BINARY_DIR}/install-stage/changelog
  COMMAND ${GZIP_PROGRAM} -9nf ${CMAKE_BINARY_DIR}/install-stage/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/dist/debian/changelog
  VERBATIM)
add_custom_target(orvalis_changelog ALL DEPENDS ${ORVALIS_CHANGELOG_GZ})
install(FILES ${CMAKE_SOURCE_DIR}/dist/debian/copyright ${ORVALIS_CHANGELOG_GZ} DESTINATION ${ORVALIS_DOCDIR})

set(CPACK_PACKAGE_NAME orvalis)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brennickware")
set(CPACK_PACKAGE_CONTACT "Brennickware <support@orvalis.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue a music collection into a compiled HTML Help file")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://orvalis.example")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brennickware <support@orvalis.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The help compiler is built in; chmcmd is only an optional second engine.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fp-utils")
# --open and the wizard's "open after compilation" hand the file to
# xdg-open; Qt's own texts come from the translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, kchmviewer | xchm, qt6-translations-l10n")
# The extended description; CPack puts the summary in front and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvalis scans the folders you choose for audio files (MP3, WMA, Ogg Vorbis,
FLAC and M4A), reads their tags and stream properties and groups the
collection by artist, album, year and genre. It writes one HTML page per
group and compiles everything into a single compiled HTML Help (.chm) file
with a contents tree and a keyword index.

A three-page wizard asks for the folders and the place of the catalogue;
the command orvalis build does the same without a window. The program speaks
English, German, French and Spanish.")
# Permissions as Debian wants them, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

include(CPack)
