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

// One statement of a script: its text as written, the same with comments left out and runs of
// blanks and line ends made one blank (for recognising the script commands), and the line of the
// script where it begins (from 1).
struct ScriptStatement {
  std::string text;
  std::string bare;
  std::size_t line = 1;
};

// The statements of a script in order, as the server's own command-line tool reads them. A
// statement ends at the terminator (";" unless SET TERM or SET TERMINATOR changed it, to a text of
// any length) outside comments ("--" to the line end, "/* */") and quoted texts ('', "" and
// q'{...}' with any delimiter); the last one needs no terminator. SET TERM statements are obeyed
// and left out, as are empty ones. Throws TVeskDriverError naming the line when the script ends
// inside a comment or a quoted text, or when SET TERM gives no usable terminator.
VESKPACK_API std::vector<ScriptStatement> SplitScript(std::string_view script);

// What the script runner does with a statement.
enum class ScriptCommand {
  Sql,          // sent to the server as it stands
  Ddl,          // sent to the server; committed before the next statement while AUTODDL is on
  Dialect,      // SET SQL DIALECT n: the dialect of the statements that follow
  AutoDdl,      // SET AUTODDL [ON | OFF], SET AUTO [ON | OFF]
  Commit,       // COMMIT [WORK] [RETAIN]
  Rollback,     // ROLLBACK [WORK] [RETAIN]
  Display,      // a setting of the command-line tool's display only: nothing to do
  Unsupported,  // a command of the command-line tool that a script runner cannot carry out
};

VESKPACK_API ScriptCommand ClassifyStatement(std::string_view bare);

}  // namespace vesk::firebird
