# quorvane_test(NAME <name> LABEL <label> SOURCES ... LIBS ...)
# One GoogleTest binary per folder; every case is registered with CTest by discovery.
function(quorvane_test)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} quorvane_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${T_NAME} TEST_PREFIX "${T_LABEL}." DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS ${T_LABEL} ${T_PROPERTIES})
endfunction()

# quorvane_benchmark(NAME <name> SOURCES ... LIBS ...)
function(quorvane_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(QUORVANE_BENCHMARKS)
    add_executable(${B_NAME} ${B_SOURCES})
    target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
  endif()
endfunction()
