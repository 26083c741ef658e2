// The script splitter of the Firebird components: statements, terminators and the commands of
// the server's command-line tool, as the script runner reads them.
#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "firebird/IBComponents.h"
#include "vesk/VeskPack5.h"

namespace vesk::firebird {

namespace {

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// Line numbers of positions taken in increasing order.
class LineCounter {
 public:
  explicit LineCounter(std::string_view text) : text_(text) {}
  std::size_t At(std::size_t position) {
    for (; scanned_ < position && scanned_ < text_.size(); ++scanned_) {
      if (text_[scanned_] == '\n') {
        ++line_;
      }
    }
    return line_;
  }

 private:
  std::string_view text_;
  std::size_t scanned_ = 0;
  std::size_t line_ = 1;
};

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$';
}

// The closing delimiter of a q'...' text opened with this one.
char QuoteCloser(char open) {
  switch (open) {
    case '(':
      return ')';
    case '[':
      return ']';
    case '{':
      return '}';
    case '<':
      return '>';
    default:
      return open;
  }
}

std::vector<std::string> Words(std::string_view bare) {
  std::vector<std::string> words;
  std::string word;
  for (char c : bare) {
    if (c == ' ') {
      if (!word.empty()) {
        words.push_back(std::move(word));
        word.clear();
      }
    } else {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  if (!word.empty()) {
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace

std::vector<ScriptStatement> SplitScript(std::string_view script) {
  std::vector<ScriptStatement> statements;
  LineCounter lines(script);
  std::string terminator = ";";
  std::size_t start = 0;  // where the current statement's text begins
  std::string bare;
  bool bare_blank = true;  // the last character added to bare was a blank (or none yet)
  auto add_bare_blank = [&] {
    if (!bare_blank) {
      bare += ' ';
      bare_blank = true;
    }
  };
  auto finish = [&](std::size_t end) {
    std::size_t first = start;
    while (first < end && IsBlankOrControl(script[first])) {
      ++first;
    }
    std::string_view text = script.substr(first, end - first);
    while (!text.empty() && IsBlankOrControl(text.back())) {
      text.remove_suffix(1);
    }
    while (!bare.empty() && bare.back() == ' ') {
      bare.pop_back();
    }
    const std::size_t line = lines.At(first);
    const std::vector<std::string> words = Words(bare);
    if (words.size() >= 2 && words[0] == "SET" &&
        (words[1] == "TERM" || words[1] == "TERMINATOR")) {
      if (words.size() != 3) {
        throw TVeskDriverError("Linha " + std::to_string(line) +
                               " do script: SET TERM precisa de um único terminador, sem "
                               "espaços (por exemplo \"SET TERM ^ ;\"): " +
                               bare);
      }
      // The terminator keeps the letter case it was written in.
      terminator = bare.substr(bare.rfind(' ') + 1);
    } else if (!bare.empty()) {
      statements.push_back({std::string(text), bare, line});
    }
    bare.clear();
    bare_blank = true;
  };
  auto unclosed = [&](std::size_t opened, const char* what) {
    return TVeskDriverError("O script termina dentro de " + std::string(what) +
                            " aberto na linha " + std::to_string(lines.At(opened)) + ".");
  };

  std::size_t i = 0;
  while (i < script.size()) {
    const char c = script[i];
    if (c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
      const std::size_t end = script.find('\n', i);
      i = end == std::string_view::npos ? script.size() : end;
      add_bare_blank();
      continue;
    }
    if (c == '/' && i + 1 < script.size() && script[i + 1] == '*') {
      const std::size_t end = script.find("*/", i + 2);
      if (end == std::string_view::npos) {
        throw unclosed(i, "um comentário");
      }
      i = end + 2;
      add_bare_blank();
      continue;
    }
    if ((c == 'q' || c == 'Q') && i + 2 < script.size() && script[i + 1] == '\'' &&
        (i == 0 || !IsWordChar(script[i - 1]))) {
      const char closer = QuoteCloser(script[i + 2]);
      std::size_t end = i + 3;
      while (end + 1 < script.size() && !(script[end] == closer && script[end + 1] == '\'')) {
        ++end;
      }
      if (end + 1 >= script.size()) {
        throw unclosed(i, "um texto q'...'");
      }
      bare.append(script.substr(i, end + 2 - i));
      bare_blank = false;
      i = end + 2;
      continue;
    }
    if (c == '\'' || c == '"') {
      const std::size_t end = script.find(c, i + 1);
      if (end == std::string_view::npos) {
        throw unclosed(i, "um texto entre aspas");
      }
      // A doubled quote inside reads as closing and opening again: the same bytes either way.
      bare.append(script.substr(i, end + 1 - i));
      bare_blank = false;
      i = end + 1;
      continue;
    }
    if (script.compare(i, terminator.size(), terminator) == 0) {
      // Past the terminator that ended the statement, whatever SET TERM makes the next one.
      const std::size_t next = i + terminator.size();
      finish(i);
      i = next;
      start = i;
      continue;
    }
    if (IsBlankOrControl(c)) {
      add_bare_blank();
    } else {
      bare += c;
      bare_blank = false;
    }
    ++i;
  }
  finish(script.size());
  return statements;
}

ScriptCommand ClassifyStatement(std::string_view bare) {
  const std::vector<std::string> w = Words(bare);
  if (w.empty()) {
    return ScriptCommand::Sql;
  }
  auto is = [&](std::size_t n, std::initializer_list<std::string_view> any) {
    return w.size() > n && std::find(any.begin(), any.end(), w[n]) != any.end();
  };
  if (w[0] == "SET" && w.size() >= 2) {
    if (w[1] == "SQL" && is(2, {"DIALECT"})) {
      return ScriptCommand::Dialect;
    }
    if (w[1] == "AUTODDL" || w[1] == "AUTO") {
      return w.size() == 2 || (w.size() == 3 && is(2, {"ON", "OFF"})) ? ScriptCommand::AutoDdl
                                                                      : ScriptCommand::Unsupported;
    }
    if (w[1] == "TIME") {
      // SET TIME ZONE is the server's; SET TIME [ON | OFF] only shows times.
      return w.size() == 2 || is(2, {"ON", "OFF"}) ? ScriptCommand::Display : ScriptCommand::Sql;
    }
    if (is(1, {"ECHO", "LIST", "COUNT", "HEADING", "WIDTH", "STATS", "PLAN", "PLANONLY", "BAIL",
               "BLOB", "BLOBDISPLAY", "WARNINGS", "WNG", "ROWCOUNT", "SQLDA_DISPLAY"})) {
      return ScriptCommand::Display;
    }
    // A character set cannot change on a connection; a transaction of the script's own choosing
    // would leave the runner's.
    if (is(1, {"NAMES", "TRANSACTION"})) {
      return ScriptCommand::Unsupported;
    }
    return w[1] == "STATISTICS" ? ScriptCommand::Ddl : ScriptCommand::Sql;
  }
  if (w[0] == "COMMIT" || w[0] == "ROLLBACK") {
    std::size_t n = 1;
    if (is(n, {"WORK"})) {
      ++n;
    }
    if (is(n, {"RETAIN", "RETAINING"})) {
      ++n;
    }
    if (n == w.size()) {
      return w[0] == "COMMIT" ? ScriptCommand::Commit : ScriptCommand::Rollback;
    }
    return ScriptCommand::Sql;  // ROLLBACK TO SAVEPOINT and the like
  }
  if ((w[0] == "CREATE" || w[0] == "DROP") && is(1, {"DATABASE", "SCHEMA"})) {
    return ScriptCommand::Unsupported;
  }
  if (is(0, {"CREATE", "ALTER", "DROP", "RECREATE", "DECLARE", "COMMENT", "GRANT", "REVOKE"})) {
    return ScriptCommand::Ddl;
  }
  if (is(0, {"SHOW", "INPUT", "IN", "OUTPUT", "OUT", "CONNECT", "QUIT", "EXIT", "EDIT", "HELP",
             "SHELL", "BLOBDUMP", "BLOBVIEW", "ADD", "COPY"})) {
    return ScriptCommand::Unsupported;
  }
  return ScriptCommand::Sql;
}

}  // namespace vesk::firebird
