# Installs the build into a temporary prefix and runs the installed program
# from another working folder with a private home. Run by ctest:
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DVERSION=... -DPKGDIR=... -DBINDIR=...
#         -DDATADIR=... -DMANDIR=... -DAPP_ID=... -P install_test.cmake
string(RANDOM LENGTH 8 tag)
set(root /tmp/orvalis-install-test-${tag})
set(prefix ${root}/prefix)
set(work ${root}/work)
set(home ${root}/home)
set(config ${root}/config)
file(MAKE_DIRECTORY ${work} ${home}/run ${config})

macro(fail text)
  file(REMOVE_RECURSE ${root})
  message(FATAL_ERROR "${text}")
endmacro()

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  fail("cmake --install failed (${rc}):\n${out}\n${err}")
endif()

# The layout: a relative link in bin, everything else below the package folder.
set(link ${prefix}/${BINDIR}/orvalis)
if(NOT IS_SYMLINK ${link})
  fail("${link} is not a symbolic link")
endif()
file(READ_SYMLINK ${link} target)
if(IS_ABSOLUTE "${target}")
  fail("${link} points to the absolute path ${target}")
endif()
foreach(f ${PKGDIR}/orvalis ${PKGDIR}/data ${PKGDIR}/steps.txt ${PKGDIR}/fnametemplates.txt
          ${PKGDIR}/default.lng ${PKGDIR}/de.lng ${PKGDIR}/fr.lng ${PKGDIR}/es.lng ${PKGDIR}/installed
          ${DATADIR}/applications/${APP_ID}.desktop ${DATADIR}/metainfo/${APP_ID}.metainfo.xml
          ${DATADIR}/icons/hicolor/scalable/apps/${APP_ID}.svg
          ${DATADIR}/icons/hicolor/16x16/apps/${APP_ID}.png ${DATADIR}/icons/hicolor/256x256/apps/${APP_ID}.png
          ${MANDIR}/man1/orvalis.1.gz)
  if(NOT EXISTS ${prefix}/${f})
    fail("not installed: ${prefix}/${f}")
  endif()
endforeach()

set(environment HOME=${home} XDG_CONFIG_HOME=${config} XDG_RUNTIME_DIR=${home}/run
                XDG_DATA_HOME=${home}/share)

execute_process(COMMAND ${CMAKE_COMMAND} -E env ${environment} ${link} --version
                WORKING_DIRECTORY ${work} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "orvalis ${VERSION}\n")
  fail("--version gave ${rc}: '${out}' '${err}', expected 'orvalis ${VERSION}'")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env ${environment}
                        ${link} build --force --out X.chm ${SOURCE_DIR}/examples/music
                WORKING_DIRECTORY ${work} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "${work}/X.chm\n" OR NOT EXISTS ${work}/X.chm)
  fail("orvalis build gave ${rc}:\nstdout: ${out}\nstderr: ${err}")
endif()

# The configuration is the user's, not the installed folder's.
if(NOT EXISTS ${config}/orvalis/orvalis.conf.xml)
  fail("no configuration in ${config}/orvalis after the run")
endif()
file(GLOB stray ${prefix}/${PKGDIR}/*.conf.xml ${prefix}/${PKGDIR}/error.history)
if(stray)
  fail("the installed program wrote into its own folder: ${stray}")
endif()

# The locale picks the installed German file; LC_ALL would win, so it goes.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LC_ALL --unset=LC_MESSAGES LANG=de_DE.UTF-8 ${environment}
                        ${link} build --force --out Y.chm ${SOURCE_DIR}/examples/music
                WORKING_DIRECTORY ${work} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT err MATCHES "Audiodateien gefunden")
  fail("orvalis build with LANG=de_DE.UTF-8 gave ${rc}, stderr not German:\n${err}")
endif()

# The release notes of the package and of the software centre name this version.
file(STRINGS ${SOURCE_DIR}/dist/debian/changelog first LIMIT_COUNT 1)
if(NOT first MATCHES "^orvalis \\(${VERSION}\\) ")
  fail("dist/debian/changelog starts with '${first}', not version ${VERSION}")
endif()
file(READ ${SOURCE_DIR}/dist/${APP_ID}.metainfo.xml metainfo)
if(NOT metainfo MATCHES "<release version=\"${VERSION}\"")
  fail("dist/${APP_ID}.metainfo.xml has no release ${VERSION}")
endif()

file(REMOVE_RECURSE ${root})
message(STATUS "installed program ran from ${prefix}")
