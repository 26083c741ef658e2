# Embeds SQL scripts in a library: a generated C++ source holding each file's bytes under a
# resource name, read by tolvan::firebird::FindScriptResource.
#
# As a build step (include this file, then call):
#   tolvan_embed_scripts(<output.cpp> NAMES <name>... FILES <file>...)
# The generation itself runs in script mode (cmake -P) with TOLVAN_EMBED_OUTPUT,
# TOLVAN_EMBED_NAMES and TOLVAN_EMBED_FILES set.

set(TOLVAN_EMBED_SCRIPTS_TOOL ${CMAKE_CURRENT_LIST_FILE})

function(tolvan_embed_scripts output)
  cmake_parse_arguments(E "" "" "NAMES;FILES" ${ARGN})
  list(LENGTH E_NAMES name_count)
  list(LENGTH E_FILES file_count)
  if(NOT name_count EQUAL file_count)
    message(FATAL_ERROR "tolvan_embed_scripts: ${name_count} names for ${file_count} files")
  endif()
  string(REPLACE ";" "|" names_arg "${E_NAMES}")
  string(REPLACE ";" "|" files_arg "${E_FILES}")
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} "-DTOLVAN_EMBED_OUTPUT=${output}"
      "-DTOLVAN_EMBED_NAMES=${names_arg}" "-DTOLVAN_EMBED_FILES=${files_arg}"
      -P ${TOLVAN_EMBED_SCRIPTS_TOOL}
    DEPENDS ${E_FILES} ${TOLVAN_EMBED_SCRIPTS_TOOL}
    COMMENT "Embedding SQL scripts in ${output}"
    VERBATIM)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED TOLVAN_EMBED_OUTPUT)
  string(REPLACE "|" ";" names "${TOLVAN_EMBED_NAMES}")
  string(REPLACE "|" ";" files "${TOLVAN_EMBED_FILES}")
  set(body "// Generated at build time from the SQL scripts; do not edit.\n")
  string(APPEND body "#include \"TolvanFirebirdUtil.h\"\n\nnamespace tolvan::firebird {\nnamespace {\n")
  set(table "")
  set(index 0)
  foreach(name IN LISTS names)
    list(GET files ${index} file)
    file(READ ${file} hex HEX)
    string(LENGTH "${hex}" hex_length)
    math(EXPR size "${hex_length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # One source line for each line of the script.
    string(REPLACE "0x0a," "0x0a,\n  " bytes "${bytes}")
    # A zero byte after the text: an empty script still has an array.
    string(APPEND body "const unsigned char kScript${index}[] = {\n  ${bytes}0x00};\n")
    string(APPEND table "    {\"${name}\", kScript${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  string(APPEND body "}  // namespace\n\nconst EmbeddedScript kEmbeddedScripts[] = {\n${table}};\n")
  string(APPEND body "const std::size_t kEmbeddedScriptCount = ${index};\n\n}  // namespace tolvan::firebird\n")
  file(WRITE ${TOLVAN_EMBED_OUTPUT}.tmp "${body}")
  file(COPY_FILE ${TOLVAN_EMBED_OUTPUT}.tmp ${TOLVAN_EMBED_OUTPUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${TOLVAN_EMBED_OUTPUT}.tmp)
endif()
