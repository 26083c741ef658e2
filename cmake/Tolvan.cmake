# Helpers shared by the project's CMake files.

# A plug-in: a shared library named after its deliverable, without a "lib" prefix
# (TolvanFirebird.dll, TolvanFirebird.so): its export file (SOURCES) over its work library (WORK),
# with the support library and a private copy of the platform code inside it. It depends on the
# host's two libraries, the system and the C++ runtime alone, and exports only the family's
# functions (scripts/check-exports checks both).
# The names a plug-in may export: the family, and the PostgreSQL plug-in's runners and guard.
set(TOLVAN_EXPORT_NAMES
  Versao PegarUsuarios PegarUser AddUser DeleteUser ModifyUser PegarDataBases PegarPlan
  CriarDataBase CriarDataBaseVazia CriarDataBaseFD CriarBackup Backup BackupConn Restore
  RestoreConn
  VerificarVersaoFerramentas PegarVersaoServidor CriarConexaoPostgres ExecutarPgDump
  ExecutarPgRestore)

function(tolvan_add_plugin name)
  cmake_parse_arguments(P "" "WORK" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${P_SOURCES})
  # The platform code the support library asks for is the private copy (tolvan::platform_either).
  set_target_properties(${name} PROPERTIES PREFIX "" TOLVAN_PLUGIN ON)
  target_link_libraries(${name} PRIVATE ${P_WORK})
  if(NOT WIN32)
    # On Linux the C++ runtime's inline templates and the private copy of the platform code would
    # otherwise leave the library with default visibility; the version script keeps the export
    # table to the family, as on Windows.
    set(map ${CMAKE_BINARY_DIR}/tolvan-plugin-exports.map)
    list(JOIN TOLVAN_EXPORT_NAMES "; " names)
    file(CONFIGURE OUTPUT ${map} CONTENT "{\n  global: ${names};\n  local: *;\n};\n")
    target_link_options(${name} PRIVATE "LINKER:--version-script=${map}")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()

# A plug-in's work: a static library that the plug-in's export file calls and the unit tests call
# directly, with the support library and the host's libraries.
function(tolvan_add_plugin_work name)
  cmake_parse_arguments(W "" "" "SOURCES" ${ARGN})
  add_library(${name} STATIC ${W_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC tolvan::contract tolvan::support VeskPack5 VeskPackBase5)
endfunction()

# A GoogleTest program registered with CTest test by test (in the Windows build, program by
# program). LABELS: unit or integration.
# ENVIRONMENT_MODIFICATION: ctest's property of that name, for every test of the program.
# RUNS: the plug-ins and programs the tests load or start, built before the program (those of them
# that this build makes). Every program knows the plug-ins' file suffix as TOLVAN_PLUGIN_SUFFIX.
function(tolvan_add_gtest name)
  cmake_parse_arguments(T "" "ENVIRONMENT_MODIFICATION" "SOURCES;LIBS;LABELS;RUNS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tolvan_test_ci GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    TOLVAN_PLUGIN_SUFFIX="${CMAKE_SHARED_LIBRARY_SUFFIX}")
  foreach(target ${T_RUNS})
    if(TARGET ${target})
      add_dependencies(${name} ${target})
    endif()
  endforeach()
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  set(properties LABELS "${T_LABELS}")
  if(T_ENVIRONMENT_MODIFICATION)
    list(APPEND properties ENVIRONMENT_MODIFICATION "${T_ENVIRONMENT_MODIFICATION}")
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Under the emulator every start of a program costs about a second of processor: each program
    # is one test, all its cases in one process (not one process per case, nor a listing of them at
    # build time), and writes what each case did to gtest/<program>.xml for the lane to count.
    # Relative to the test's working folder: the program takes a path from / for one on its drive.
    file(RELATIVE_PATH report ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_BINARY_DIR}/gtest/${name}.xml)
    add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${report})
    set_tests_properties(${name} PROPERTIES ${properties})
  else()
    gtest_discover_tests(${name}
      PROPERTIES ${properties}
      DISCOVERY_TIMEOUT 120)
  endif()
endfunction()

# Compiles a plug-in's export file into a test program and links its work library, so that the
# test finds its exports by name (tests/support/linked_plugin/LinkedPlugin.h) with the test's own
# platform state: a loaded plug-in keeps a private copy the test's overrides cannot reach.
function(tolvan_link_plugin target plugin)
  set(table ${PROJECT_SOURCE_DIR}/tests/support/linked_plugin/LinkedExports.cpp)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/${plugin}/${plugin}.cpp ${table})
  string(TOUPPER ${plugin} upper)
  target_compile_definitions(${target} PRIVATE TOLVAN_LINKED_PLUGIN="${plugin}"
    TOLVAN_LINKED_${upper})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/linked_plugin)
  target_link_libraries(${target} PRIVATE ${plugin}Util)
  if(TARGET ${plugin}Scripts)
    target_link_libraries(${target} PRIVATE ${plugin}Scripts)
  endif()
endfunction()
