# autodeliver_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>]
#                      [LABELS <labels...>] [TIMEOUT <seconds>]
#                      [RESOURCE_LOCK <name>] [FIXTURES_REQUIRED <name>])
#
# One GoogleTest executable per area, linked with the shared test support
# (tests/support: the temporary folder, the faulty FileIo, hex bytes; the
# shop fixture is autodeliver_test_shop). Each test case is registered with
# CTest on its own (gtest_discover_tests), so ctest reports them one by one.
# Test cases that share a RESOURCE_LOCK never run at the same time (ctest -j);
# FIXTURES_REQUIRED names a CTest fixture whose setup runs first.
include(GoogleTest)
find_package(GTest REQUIRED)

function(autodeliver_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;RESOURCE_LOCK;FIXTURES_REQUIRED" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} autodeliver_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE
    AUTODELIVER_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    AUTODELIVER_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(lock)
  if(T_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  if(T_FIXTURES_REQUIRED)
    list(APPEND lock FIXTURES_REQUIRED ${T_FIXTURES_REQUIRED})
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${lock} TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
