# The Debian package: compressed manual pages, the copyright and changelog
# files Debian asks for, and CPack's DEB generator (bash scripts/package builds it).
set(TARVEL_MAINTAINER "The Tarvel developers <developers@tarvel.invalid>")
set(TARVEL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarvel)

# tarvel_gzip(SOURCE PACKED): a rule making PACKED from SOURCE, compressed the
# way Debian wants (best compression, no name or time stored).
function(tarvel_gzip source packed)
  get_filename_component(dir ${packed} DIRECTORY)
  add_custom_command(OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${source} ${packed}
    DEPENDS ${source} VERBATIM)
endfunction()

# tarvel_install_program(TARGET): the program into bin and its manual page
# docs/TARGET.1, compressed and built with the program. A stripping install
# (CPack's) also drops the compiler's notes, as Debian's own tools do.
function(tarvel_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()")

  set(packed ${PROJECT_BINARY_DIR}/man/${target}.1.gz)
  tarvel_gzip(${PROJECT_SOURCE_DIR}/docs/${target}.1 ${packed})
  add_custom_target(${target}-man-page DEPENDS ${packed})
  add_dependencies(${target} ${target}-man-page)
  install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# The copyright file carries LICENSE's text, from its permission notice on.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
set(TARVEL_COPYRIGHT "${CMAKE_MATCH_1}")
string(FIND "${license}" "Permission is hereby" start)
string(SUBSTRING "${license}" ${start} -1 license)
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " license "${license}")
set(TARVEL_LICENSE_TEXT " ${license}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in
               ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)

execute_process(COMMAND date -u -R -d ${TARVEL_RELEASE_DATE}
                OUTPUT_VARIABLE TARVEL_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
               ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
tarvel_gzip(${PROJECT_BINARY_DIR}/debian/changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
add_custom_target(tarvel-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${TARVEL_DOC_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME tarvel)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_VENDOR "The Tarvel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small web server for the desktop, with one control window")
set(CPACK_PACKAGE_DESCRIPTION [[
Tarvel serves the files of one folder to web browsers on this computer or on
the network. Its one window holds the port, the folder and the default page,
and the buttons that start and stop the server; the settings live in one small
text file, and the server can start by itself when the window opens.

It serves static files only, one request at a time, each on its own
connection, and never anything outside the folder, hidden files or the program
itself.

The package also holds tarvel-serve, the same server without a window, for
scripts, containers and machines without a display.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARVEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION httpd)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the programs link (dpkg-shlibdeps); the browser
# opener for Help and the address link is welcome but not required.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
