# Helpers shared by the project's CMake files.

# A plug-in: a shared library named after its deliverable, without a "lib" prefix
# (TolvanFirebird.dll, TolvanFirebird.so), exporting only the family's functions.
# The names a plug-in may export: the family, and the PostgreSQL plug-in's runners and guard.
set(TOLVAN_EXPORT_NAMES
  Versao PegarUsuarios PegarUser AddUser DeleteUser ModifyUser PegarDataBases PegarPlan
  CriarDataBase CriarDataBaseVazia CriarDataBaseFD CriarBackup Backup BackupConn Restore
  RestoreConn
  VerificarVersaoFerramentas PegarVersaoServidor CriarConexaoPostgres ExecutarPgDump
  ExecutarPgRestore)

function(tolvan_add_plugin name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${P_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_link_libraries(${name} PRIVATE tolvan::contract tolvan::common ${P_LIBS})
  if(NOT WIN32)
    # On Linux the C++ runtime's inline templates would otherwise leave the library with default
    # visibility; the version script keeps the export table to the family, as on Windows.
    set(map ${CMAKE_BINARY_DIR}/tolvan-plugin-exports.map)
    list(JOIN TOLVAN_EXPORT_NAMES "; " names)
    file(CONFIGURE OUTPUT ${map} CONTENT "{\n  global: ${names};\n  local: *;\n};\n")
    target_link_options(${name} PRIVATE "LINKER:--version-script=${map}")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()

# A GoogleTest program registered with CTest test by test. LABELS: unit or integration.
# ENVIRONMENT_MODIFICATION: ctest's property of that name, for every test of the program.
function(tolvan_add_gtest name)
  cmake_parse_arguments(T "" "ENVIRONMENT_MODIFICATION" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  set(properties LABELS "${T_LABELS}")
  if(T_ENVIRONMENT_MODIFICATION)
    list(APPEND properties ENVIRONMENT_MODIFICATION "${T_ENVIRONMENT_MODIFICATION}")
  endif()
  gtest_discover_tests(${name}
    PROPERTIES ${properties}
    DISCOVERY_TIMEOUT 120)
endfunction()
