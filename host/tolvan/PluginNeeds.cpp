#include "PluginNeeds.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "vesk/host/Driver.h"
#include "vesk/host/Odbc.h"

namespace tolvan::cli {
namespace {

bool HasDriverFor(const std::vector<std::string>& drivers, const std::string& server) {
  return std::any_of(drivers.begin(), drivers.end(), [&server](const std::string& name) {
    return name.find(server) != std::string::npos;
  });
}

// "um servidor Oracle e o driver ODBC dele", less the driver when one of that server is installed.
std::string ServerReachedByOdbc(const MachineOffer& offer, const std::string& server) {
  std::string needs = "um servidor " + server;
  if (!offer.odbc_drivers || !HasDriverFor(*offer.odbc_drivers, server)) {
    needs += " e o driver ODBC dele";
  }
  return needs;
}

std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += (i == 0 ? "" : ", ") + names[i];
  }
  return names.empty() ? "nenhum" : text;
}

}  // namespace

MachineOffer ThisMachine(const std::string& app_dir) {
  MachineOffer offer;
  const std::string folder = app_dir + "PostgreSQL" + tolvan::platform::kPathDelimiter;
  offer.postgres_tools = true;
  for (const char* tool : {"pg_dump", "pg_restore"}) {
    offer.postgres_tools =
        offer.postgres_tools &&
        tolvan::platform::FileExists(folder + tool + tolvan::platform::kExecutableSuffix);
  }
  if (const auto odbc = vesk::driver::FindDriver(vesk::odbc::kDriverName)) {
    try {
      offer.odbc_drivers = odbc->InstalledDrivers();
    } catch (const std::exception&) {
      // A driver manager that cannot list its drivers lists none.
      offer.odbc_drivers = std::vector<std::string>{};
    }
  }
  return offer;
}

std::string OtherPluginNeeds(const MachineOffer& offer) {
  std::string postgres = "um servidor PostgreSQL";
  if (!offer.postgres_tools) {
    postgres +=
        " e o pg_dump e o pg_restore na pasta PostgreSQL/ ao lado do tolvan (pacote "
        "postgresql-client)";
  }
  std::string text = "Para os outros plug-ins falta: postgresql, " + postgres + "; oracle, " +
                     ServerReachedByOdbc(offer, "Oracle") + "; mssql, " +
                     ServerReachedByOdbc(offer, "SQL Server");
  if (offer.odbc_drivers) {
    text += " (drivers ODBC nesta máquina: " + Listed(*offer.odbc_drivers) + ").";
  } else {
    text += ", e um tolvan compilado com ODBC (instale unixodbc-dev e rode scripts/run de novo).";
  }
  return text;
}

}  // namespace tolvan::cli
