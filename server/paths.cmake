# Client path confinement, volume choice and write-to-disk targets.
add_library(arvex_paths STATIC
  ${CMAKE_CURRENT_LIST_DIR}/recordingvolumes.h
  ${CMAKE_CURRENT_LIST_DIR}/clientpaths.h ${CMAKE_CURRENT_LIST_DIR}/clientpaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/w2dvolumes.h ${CMAKE_CURRENT_LIST_DIR}/w2dvolumes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/w2dtargets.h ${CMAKE_CURRENT_LIST_DIR}/w2dtargets.cpp)
target_include_directories(arvex_paths PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(arvex_paths PUBLIC Qt5::Core)
