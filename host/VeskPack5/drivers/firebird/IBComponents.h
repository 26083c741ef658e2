// Internals of the data-access library's Firebird components that tests look at: the creation
// statement, the client library they load and the script splitter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vesk/VeskPack5.h"

namespace vesk::firebird {

// The client library the components load: "ibclient64.dll" of the program's folder on Windows;
// elsewhere libibclient64.so of that folder, or the system's client when the folder has none.
VESKPACK_API std::string ComponentsClientLibrary();

// "CREATE DATABASE '" name "'" (quotes in the name doubled), then each parameter line on a line
// of its own.
VESKPACK_API std::string CreateDatabaseStatement(const std::string& database_name,
                                                 const std::vector<std::string>& params);

// One statement of a script: its text as written, and the same with comments left out and runs
// of blanks and line ends made one blank (for recognising the script commands).
struct ScriptStatement {
  std::string text;
  std::string bare;
};

// The statements of a script in order. A statement ends at the terminator (";" unless SET TERM
// changed it) outside comments ("--" to the line end, "/* */") and quoted texts ('' and ""); the
// last one needs no terminator. SET TERM statements are obeyed and left out, as are empty ones.
// Throws TVeskDriverError when the script ends inside a comment or a quoted text.
VESKPACK_API std::vector<ScriptStatement> SplitScript(std::string_view script);

}  // namespace vesk::firebird
