#include "TolvanFirebirdUtil.h"

#include <stdexcept>

#include "tolvan/support/Guards.h"
#include "tolvan/support/Sessions.h"
#include "tolvan/support/Text.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::firebird {

std::string VersionFromInfoReport(const std::vector<std::string>& report) {
  std::string value;
  for (const std::string& line : report) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos &&
        support::EqualsIgnoringCase(std::string_view(line).substr(0, eq), kServerVersionName)) {
      value = line.substr(eq + 1);
      break;
    }
  }
  value = support::Trim(value);
  // A plain LF ends a line as well as CR does: the result is one line either way.
  return value.substr(0, value.find_first_of("\r\n"));
}

std::string Versao(TVeskDMConexao* DM) {
  // The clone stays the host's: it is freed with the connection it came from.
  TVeskSQLConnection* clone = support::ConnectionOf(DM, "Versao").CloneConnection();

  std::string result;
  try {
    std::vector<std::string> report;
    clone->GetInfoReport(report, TVeskInfoReportPart::Connection);
    result = VersionFromInfoReport(report);
  } catch (const std::exception& e) {
    result = "Erro: " + std::string(e.what());
    WriteLog(result, -1, "Versao");
  } catch (...) {
    result = "Erro: erro desconhecido";
    WriteLog(result, -1, "Versao");
  }

  try {
    const support::QueryGuard query(
        ExecutarSQL(std::string(kOdsSql), nullptr, false, false, 10, "", clone, true));
    // No row means no ODS to report, like any other failure of this step.
    if (!query->Eof()) {
      result += " ODS " + query->FieldAsString(0);
    }
  } catch (...) {
    // The ODS is optional in the line; its failure is not reported.
  }
  return result;
}

void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  if (_AUser == nullptr) {
    throw std::runtime_error("PegarUsuarios: _AUser não poder ser nil");
  }
  support::AppendSessionsQuietly(DM, std::string(kAttachmentsSql), *_AUser);
}

std::string PegarPlan(TVeskDMConexao* /*DM*/, const std::string& /*SQL*/) {
  return "não suportado";
}

}  // namespace tolvan::firebird
