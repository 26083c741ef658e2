# The configure-time check of a builder's declarations script: a script of the stated form passes
# and each way off it is refused with its own message.
# Run as: cmake -DCHECKER=<CheckDeclarationsScript.cmake> -DWORK=<folder> -P <this file>
cmake_minimum_required(VERSION 3.25)

string(CONCAT good "SET SQL DIALECT 3;\r\n/* a comment; with a terminator */\r\n"
  "DECLARE EXTERNAL FUNCTION F_A\r\n  INTEGER RETURNS INTEGER BY VALUE\r\n"
  "  ENTRY_POINT 'a' MODULE_NAME 'FreeAdhocUDF';\r\n-- F_B; in a comment\r\n")
file(MAKE_DIRECTORY "${WORK}")
set(failures 0)

function(expect name content pattern)
  file(WRITE "${WORK}/${name}.sql" "${content}")
  execute_process(COMMAND ${CMAKE_COMMAND} "-DTOLVAN_CHECK_FILE=${WORK}/${name}.sql" -P ${CHECKER}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "[ \n]+" " " out "${out}")
  if(pattern STREQUAL "")
    if(NOT rc EQUAL 0)
      message(SEND_ERROR "${name}: refused: ${out}")
    endif()
  elseif(rc EQUAL 0 OR NOT out MATCHES "${pattern}")
    message(SEND_ERROR "${name}: expected a refusal matching '${pattern}', got (${rc}): ${out}")
  endif()
endfunction()

expect(good "${good}" "")
string(REPLACE "\r\n" "\n" lf "${good}")
expect(lf_line_ends "${lf}" "CR LF")
string(REPLACE "F_A" "A" name "${good}")
expect(name_without_prefix "${name}" "does not begin with \"F_\"")
string(REPLACE "FreeAdhocUDF" "fbudf" module "${good}")
expect(other_module "${module}" "another module")
string(REPLACE "'FreeAdhocUDF';" "'FreeAdhocUDF'" unterminated "${good}")
expect(unterminated "${unterminated}" "not ended by")
string(ASCII 195 167 c_cedilla)
string(REPLACE "-- F_B" "-- F_${c_cedilla}" eight_bit "${good}")
expect(eight_bit "${eight_bit}" "7-bit")
expect(no_declaration "SET SQL DIALECT 3;\r\n" "declares no function")
expect(other_statement "${good}DROP TABLE CLIENTES;\r\n" "not a statement of the declaration")
