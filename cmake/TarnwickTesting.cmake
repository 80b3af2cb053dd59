include(GoogleTest)
find_package(GTest REQUIRED)

# tarnwick_add_test(NAME <name> LABEL <label> [GUI] LIBS <targets...> SOURCES <files...>)
# One GoogleTest executable; each test case becomes its own ctest entry carrying LABEL.
function(tarnwick_add_test)
  cmake_parse_arguments(T "GUI" "NAME;LABEL" "LIBS;SOURCES" ${ARGN})
  if(T_GUI)
    set(main ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp)
  else()
    set(main ${PROJECT_SOURCE_DIR}/tests/support/core_main.cpp)
  endif()
  add_executable(${T_NAME} ${T_SOURCES} ${main})
  target_link_libraries(${T_NAME} PRIVATE tarnwick_common tarnwick_testsupport ${T_LIBS} GTest::gtest)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${T_LABEL} TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TARNWICK_TEST_ARTIFACTS=${PROJECT_BINARY_DIR}/test-artifacts")
endfunction()
