# cvn_add_gtest(NAME name SOURCES ... LIBS ... [LABELS ...] [RESOURCE_LOCK name])
# One GoogleTest binary registered with CTest. Qt tests run headless.
include(GoogleTest)
function(cvn_add_gtest)
  cmake_parse_arguments(T "" "NAME;RESOURCE_LOCK" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  # One environment variable only: gtest_discover_tests cannot pass a list
  # here. The simulator's path is compiled into the launcher.
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  gtest_discover_tests(${T_NAME} PROPERTIES ${props} DISCOVERY_TIMEOUT 60)
endfunction()
