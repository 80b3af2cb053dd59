include(GoogleTest)
find_package(GTest REQUIRED)

# tarnwick_add_test(NAME <name> LABEL <label> [GUI] [SERIAL] LIBS <targets...> SOURCES <files...>)
# One GoogleTest executable; each test case becomes its own ctest entry carrying LABEL.
# SERIAL: its cases run while no other test runs (they change something the whole session shares,
# such as locking the keyring).
function(tarnwick_add_test)
  cmake_parse_arguments(T "GUI;SERIAL" "NAME;LABEL" "LIBS;SOURCES" ${ARGN})
  set(serial "")
  if(T_SERIAL)
    set(serial RUN_SERIAL TRUE)
  endif()
  if(T_GUI)
    set(main ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp)
  else()
    set(main ${PROJECT_SOURCE_DIR}/tests/support/core_main.cpp)
  endif()
  add_executable(${T_NAME} ${T_SOURCES} ${main})
  # The shared mains end by finishing coroutines still waiting (tarnwick_core).
  target_link_libraries(${T_NAME} PRIVATE tarnwick_common tarnwick_testsupport tarnwick_core ${T_LIBS}
    GTest::gtest)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${T_LABEL} TIMEOUT 120 ${serial}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TARNWICK_TEST_ARTIFACTS=${PROJECT_BINARY_DIR}/test-artifacts")
endfunction()
