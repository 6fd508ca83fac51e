# Adapters, run options and the driver folders (arvex_app_core), the headless
# runner and arvex-remote.
add_library(arvex_app_core STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/adapters.h
  ${CMAKE_CURRENT_SOURCE_DIR}/adapters.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/adapterrecord.h
  ${CMAKE_CURRENT_SOURCE_DIR}/adapterrecord.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/runoptions.h
  ${CMAKE_CURRENT_SOURCE_DIR}/runoptions.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/rawfolder.h
  ${CMAKE_CURRENT_SOURCE_DIR}/rawfolder.cpp
)
target_include_directories(arvex_app_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(arvex_app_core PUBLIC Qt5::Core Qt5::Network arvex_wire arvex_device)

# The headless runner and arvex-remote need the server.
if(TARGET arvex_server)
  add_library(arvex_headless STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/stopsignals.h
    ${CMAKE_CURRENT_SOURCE_DIR}/stopsignals.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/headless.h
    ${CMAKE_CURRENT_SOURCE_DIR}/headless.cpp
  )
  target_link_libraries(arvex_headless PUBLIC arvex_app_core arvex_server)

  add_executable(arvex-remote ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  target_link_libraries(arvex-remote PRIVATE arvex_headless)
  if(TARGET arvex_desktop)
    target_link_libraries(arvex-remote PRIVATE arvex_desktop)
    target_compile_definitions(arvex-remote PRIVATE ARVEX_HAVE_DESKTOP)
  endif()
endif()
