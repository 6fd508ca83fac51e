# Tests of the desktop program's application shell: settings, application
# object, single instance (with real second processes and kill -9).
if(NOT TARGET arvex_desktop)
  return()
endif()

arvex_add_test(tst_qrmapplication SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_qrmapplication.cpp
  LIBS arvex_desktop)

add_executable(arvex_guard_holder ${CMAKE_CURRENT_SOURCE_DIR}/guardholder.cpp)
target_link_libraries(arvex_guard_holder PRIVATE arvex_desktop)
arvex_add_test(tst_singleinstance SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_singleinstance.cpp
  LIBS arvex_desktop Qt5::Network TIMEOUT 90)
target_compile_definitions(tst_singleinstance PRIVATE
  ARVEX_GUARD_HOLDER="$<TARGET_FILE:arvex_guard_holder>"
  ARVEX_REMOTE="$<TARGET_FILE:arvex-remote>")
add_dependencies(tst_singleinstance arvex_guard_holder arvex-remote)
