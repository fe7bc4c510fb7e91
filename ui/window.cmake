# The control window, the About box and start-up: the `tarvel` desktop program.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
find_package(PkgConfig REQUIRED)
pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET libqrencode)

set(TARVEL_RES_DIR ${PROJECT_SOURCE_DIR}/res)
# Outside share/doc, which Debian systems may leave out.
set(TARVEL_HELP_DIR ${CMAKE_INSTALL_DATAROOTDIR}/tarvel)
# The installed help folder as seen from the installed program, whatever the prefix.
file(RELATIVE_PATH TARVEL_HELP_FROM_BINARY ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${TARVEL_HELP_DIR})

# Everything but main(), so the tests drive the same window the program shows.
add_library(tarvel_window OBJECT
  AboutDlg.cpp
  AppIcon.cpp
  AppMessage.cpp
  ChannelText.cpp
  FieldBytes.cpp
  QrCodeWidget.cpp
  ServerApp.cpp
  ServerDlg.cpp
  SignalCloser.cpp
  ${TARVEL_RES_DIR}/AboutDlg.ui
  ${TARVEL_RES_DIR}/ServerDlg.ui
  ${TARVEL_RES_DIR}/tarvel.qrc
)
set_target_properties(tarvel_window PROPERTIES
  AUTOMOC ON
  AUTOUIC ON
  AUTORCC ON
  AUTOUIC_SEARCH_PATHS ${TARVEL_RES_DIR}
)
target_include_directories(tarvel_window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${TARVEL_RES_DIR})
target_compile_definitions(tarvel_window PRIVATE
  TARVEL_HELP_FROM_BINARY="${TARVEL_HELP_FROM_BINARY}")
target_link_libraries(tarvel_window PUBLIC tarvel_settings tarvel_server tarvel_version Qt6::Widgets
                      PkgConfig::QRENCODE)

add_executable(tarvel main.cpp)
target_link_libraries(tarvel PRIVATE tarvel_window)

# The help document beside the program, so a build runs with its help.
configure_file(${PROJECT_SOURCE_DIR}/docs/Tarvel.html ${CMAKE_CURRENT_BINARY_DIR}/Tarvel.html
               COPYONLY)

tarvel_install_program(tarvel)
install(FILES ${TARVEL_RES_DIR}/tarvel.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${TARVEL_RES_DIR}/tarvel.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 128 256)
  install(FILES ${TARVEL_RES_DIR}/tarvel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
          RENAME tarvel.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/docs/Tarvel.html DESTINATION ${TARVEL_HELP_DIR})

# What software centres show; the release is the project version.
set(TARVEL_APP_ID org.tarvel.tarvel)
configure_file(${TARVEL_RES_DIR}/tarvel.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/${TARVEL_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${TARVEL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
