# Shared helpers for the project's targets.

# pendlo_test(NAME SOURCES a.cpp ... LIBS lib ... [ENV VAR=value ...]
#             [TIMEOUT s] [INTEGRATION gtest-filter | ALL_INTEGRATION]
#             [ELSEWHERE gtest-filter])
# One test executable per module. Its tests are labelled `unit` (no sound
# server, no display, no real program: the quick loop, `ctest -L unit`) or
# `integration`: the cases matching the INTEGRATION filter run as a second
# CTest test NAME_integration, or all of them with ALL_INTEGRATION. Cases
# matching ELSEWHERE are left to tests the caller adds (e.g. on Xvfb).
function(pendlo_test name)
  cmake_parse_arguments(T "ALL_INTEGRATION" "TIMEOUT;INTEGRATION;ELSEWHERE" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} pendlo_warnings
                        GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(_tests ${name})
  if(T_ALL_INTEGRATION)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS integration)
  else()
    set(_others ${T_INTEGRATION} ${T_ELSEWHERE})
    if(_others)
      list(JOIN _others ":" _others)
      add_test(NAME ${name} COMMAND ${name} --gtest_filter=-${_others})
    else()
      add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS unit)
    if(T_INTEGRATION)
      add_test(NAME ${name}_integration COMMAND ${name} --gtest_filter=${T_INTEGRATION})
      set_tests_properties(${name}_integration PROPERTIES LABELS integration)
      list(APPEND _tests ${name}_integration)
    endif()
  endif()
  set_tests_properties(${_tests} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_ENV)
    set_tests_properties(${_tests} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
endfunction()

# pendlo_library(NAME SOURCES ... LIBS ...): a static library of one module.
function(pendlo_library name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_LIBS} PRIVATE pendlo_warnings)
endfunction()
