# Helpers shared by the project's CMake files.

# A plug-in: a shared library named after its deliverable, without a "lib" prefix
# (TolvanFirebird.dll, TolvanFirebird.so), exporting only the family's functions.
function(tolvan_add_plugin name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${P_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_link_libraries(${name} PRIVATE tolvan::contract ${P_LIBS})
endfunction()

# A GoogleTest program registered with CTest test by test. LABELS: unit or integration.
function(tolvan_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${T_LABELS}"
    DISCOVERY_TIMEOUT 120)
endfunction()
