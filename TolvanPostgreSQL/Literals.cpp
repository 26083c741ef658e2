// String literals the server reads back as the value, whatever its standard_conforming_strings.
#include <string>
#include <vector>

#include "TolvanPostgreSQLUtil.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {

bool StandardConformingStrings(TVeskSQLConnection* connection) {
  static const std::string kLine = "standard_conforming_strings = ";
  std::vector<std::string> report;
  connection->GetInfoReport(report, TVeskInfoReportPart::Connection);
  for (const std::string& line : report) {
    if (line.compare(0, kLine.size(), kLine) == 0) {
      return line.substr(kLine.size()) == "on";
    }
  }
  return false;
}

std::string Literal(const std::string& value, bool standard_strings) {
  if (standard_strings || value.find('\\') == std::string::npos) {
    return ValorParaSQL(value);
  }
  // Where the setting is off, a backslash in '...' escapes what follows it, the closing quote
  // included; E'...' reads escapes on every server, so doubled backslashes stand for themselves.
  std::string literal = "E'";
  for (const char c : value) {
    if (c == '\'' || c == '\\') {
      literal += c;
    }
    literal += c;
  }
  return literal + "'";
}

}  // namespace tolvan::postgresql
