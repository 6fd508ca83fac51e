# The windowed program (arvex_desktop): application object, single instance,
# settings, and the windows of ui/. arvex-remote links it when it exists.
set(ARVEX_UI_DIR ${PROJECT_SOURCE_DIR}/ui)
add_library(arvex_desktop STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/desktop.h
  ${CMAKE_CURRENT_SOURCE_DIR}/desktop.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/qrmapplication.h
  ${CMAKE_CURRENT_SOURCE_DIR}/qrmapplication.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/settings.h
  ${CMAKE_CURRENT_SOURCE_DIR}/settings.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/settingsadapters.h
  ${CMAKE_CURRENT_SOURCE_DIR}/settingsadapters.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/singleinstanceguard.h
  ${CMAKE_CURRENT_SOURCE_DIR}/singleinstanceguard.cpp
  ${ARVEX_UI_DIR}/camerainfotext.h
  ${ARVEX_UI_DIR}/camerainfotext.cpp
  ${ARVEX_UI_DIR}/logdialog.h
  ${ARVEX_UI_DIR}/logdialog.cpp
  ${ARVEX_UI_DIR}/logdialogui.h
  ${ARVEX_UI_DIR}/logdialogui.cpp
  ${ARVEX_UI_DIR}/mainwindow.h
  ${ARVEX_UI_DIR}/mainwindow.cpp
  ${ARVEX_UI_DIR}/mainwindowui.h
  ${ARVEX_UI_DIR}/mainwindowui.cpp
  ${ARVEX_UI_DIR}/optionsdialog.h
  ${ARVEX_UI_DIR}/optionsdialog.cpp
  ${ARVEX_UI_DIR}/optionsdialogui.h
  ${ARVEX_UI_DIR}/optionsdialogui.cpp
  ${ARVEX_UI_DIR}/res/arvexres.qrc
)
target_include_directories(arvex_desktop PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${ARVEX_UI_DIR})
# arvex_app_core and arvex_headless (adapters, run options, driver folders,
# stop signals) are defined by core.cmake, included after this file.
target_link_libraries(arvex_desktop PUBLIC
  Qt5::Widgets Qt5::Network arvex_server arvex_app_core arvex_headless)
