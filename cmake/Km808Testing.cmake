# km808_add_test(NAME SOURCES ... [LIBS ...] [GUI] [SCREEN WxH] [LABELS ...] [ENV ...])
# A GoogleTest executable whose tests CTest discovers. GUI tests get a
# QApplication on Qt's offscreen platform with one screen of the given size
# (1920x1080 unless told), and link the program's core library.
function(km808_add_test name)
  cmake_parse_arguments(T "GUI" "SCREEN" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest ${T_LIBS})
  target_include_directories(${name} PRIVATE ${KM808_TEST_SUPPORT_DIR})
  set(env ${T_ENV})
  if(T_GUI)
    if(NOT T_SCREEN)
      set(T_SCREEN 1920x1080)
    endif()
    target_link_libraries(${name} PRIVATE km808_app km808_gui_test_main Qt6::Test)
    list(APPEND env "QT_QPA_PLATFORM=offscreen:configfile=${KM808_TEST_SUPPORT_DIR}/screen-${T_SCREEN}.json")
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  list(APPEND env "KM808_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${env}" LABELS "${T_LABELS}")
endfunction()
