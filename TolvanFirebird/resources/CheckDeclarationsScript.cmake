# Checks that a builder's declarations_all_dialect3.sql has the form the plug-in embeds and runs
# as it stands: 7-bit text with CR LF line ends, statements ended by ";", each one either
# "SET SQL DIALECT 3" or a DECLARE EXTERNAL FUNCTION of module 'FreeAdhocUDF' whose name begins
# with "F_", and at least one declaration. A file that fails stops the configure step.
#
# At configure time (include this file, then call):
#   tolvan_check_declarations_script(<file>)
# Alone, for a test: cmake -DTOLVAN_CHECK_FILE=<file> -P CheckDeclarationsScript.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

function(tolvan_check_declarations_script file)
  set(what "TOLVAN_FREEADHOCUDF_SCRIPT (${file})")
  file(READ "${file}" hex HEX)
  # One blank before every byte, so that a match cannot straddle two of them.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" " \\1" bytes "${hex}")
  if(bytes MATCHES " [89a-f][0-9a-f]")
    message(FATAL_ERROR "${what}: not 7-bit text (a byte above 127); the plug-in embeds the "
      "FreeAdhocUDF script as its project gives it, in plain ASCII")
  endif()
  if(bytes MATCHES " 00")
    message(FATAL_ERROR "${what}: holds a zero byte; not a text file")
  endif()
  string(REPLACE " 0d 0a" "" lone "${bytes}")
  if(lone MATCHES " 0[ad]")
    message(FATAL_ERROR "${what}: line ends must be CR LF throughout, as in the scripts the "
      "plug-in embeds beside it (convert it with unix2dos)")
  endif()

  file(READ "${file}" text)
  # Comments out: /* ... */ and -- to the line end.
  set(plain "")
  while(TRUE)
    string(FIND "${text}" "/*" open)
    if(open EQUAL -1)
      string(APPEND plain "${text}")
      break()
    endif()
    string(SUBSTRING "${text}" 0 ${open} before)
    string(APPEND plain "${before} ")
    math(EXPR after "${open} + 2")
    string(SUBSTRING "${text}" ${after} -1 text)
    string(FIND "${text}" "*/" close)
    if(close EQUAL -1)
      message(FATAL_ERROR "${what}: a comment opened with /* is never closed")
    endif()
    math(EXPR after "${close} + 2")
    string(SUBSTRING "${text}" ${after} -1 text)
  endwhile()
  string(REGEX REPLACE "--[^\r\n]*" " " plain "${plain}")
  # CMake lists split at ";" but also group at brackets: none may stand in a declaration.
  if(plain MATCHES "[][\\\\]")
    message(FATAL_ERROR "${what}: brackets or backslashes outside comments; not a declaration "
      "script")
  endif()
  string(REGEX REPLACE "[ \t\r\n]+" " " plain "${plain}")
  string(TOUPPER "${plain}" plain)
  string(STRIP "${plain}" stripped)
  if(NOT stripped MATCHES ";$")
    message(FATAL_ERROR "${what}: the last statement is not ended by \";\"")
  endif()
  set(declarations 0)
  foreach(statement IN LISTS plain)
    string(STRIP "${statement}" statement)
    if(statement STREQUAL "" OR statement STREQUAL "SET SQL DIALECT 3")
      continue()
    endif()
    if(statement MATCHES "^DECLARE EXTERNAL FUNCTION ")
      if(NOT statement MATCHES "^DECLARE EXTERNAL FUNCTION \"?F_")
        message(FATAL_ERROR "${what}: a function whose name does not begin with \"F_\": "
          "${statement}")
      endif()
      if(NOT statement MATCHES " MODULE_NAME 'FREEADHOCUDF'$")
        message(FATAL_ERROR "${what}: a declaration of another module than 'FreeAdhocUDF': "
          "${statement}")
      endif()
      math(EXPR declarations "${declarations} + 1")
      continue()
    endif()
    message(FATAL_ERROR "${what}: not a statement of the declaration script: ${statement}")
  endforeach()
  if(declarations EQUAL 0)
    message(FATAL_ERROR "${what}: declares no function")
  endif()
  set(TOLVAN_DECLARATIONS_COUNT ${declarations} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED TOLVAN_CHECK_FILE)
  tolvan_check_declarations_script("${TOLVAN_CHECK_FILE}")
  message("${TOLVAN_CHECK_FILE}: ${TOLVAN_DECLARATIONS_COUNT} declarations")
endif()
