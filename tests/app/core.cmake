# Tests of the adapters, run options and driver folders.
arvex_add_test(tst_adapters SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_adapters.cpp
  LIBS arvex_app_core)
arvex_add_test(tst_runoptions SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_runoptions.cpp
  LIBS arvex_app_core)
arvex_add_test(tst_rawfolder SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_rawfolder.cpp
  LIBS arvex_app_core)
