// Version text, sessions and database creation of the SQL Server plug-in.
#include "TolvanMSSQLUtil.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "tolvan/support/Guards.h"
#include "tolvan/support/Sessions.h"
#include "tolvan/support/Text.h"
#include "vesk/VeskPack5.h"

namespace tolvan::mssql {
namespace {

bool IsPathDelimiter(char c) {
  return c == '\\' || c == '/' || c == ':';
}

}  // namespace

DatabaseFiles DeriveDatabaseFiles(const std::string& path) {
  size_t name_start = path.size();
  while (name_start > 0 && !IsPathDelimiter(path[name_start - 1])) {
    --name_start;
  }
  const size_t dot = path.rfind('.');
  const std::string stem =
      dot == std::string::npos || dot < name_start ? path : path.substr(0, dot);
  DatabaseFiles files;
  files.data_file = stem + ".mdf";
  files.name = stem.substr(name_start);
  files.log_file = stem + "_log.ldf";
  return files;
}

std::vector<std::string> CriarDataBaseStatements(const DatabaseFiles& files) {
  using support::Doubled;
  const std::string bracketed = Doubled(files.name, ']');
  const std::string name = Doubled(files.name, '\'');
  std::vector<std::string> statements = {
      "CREATE DATABASE [" + bracketed + "] CONTAINMENT = NONE ON  PRIMARY ( NAME = N'" + name +
      "', FILENAME = N'" + Doubled(files.data_file, '\'') +
      "' , SIZE = 5120KB , FILEGROWTH = 1024KB ) LOG ON ( NAME = N'" + name +
      "_log', FILENAME = N'" + Doubled(files.log_file, '\'') +
      "' , SIZE = 1024KB , FILEGROWTH = 10%) COLLATE Latin1_General_CI_AS"};
  static constexpr const char* kSuffixes[] = {
      "] SET COMPATIBILITY_LEVEL = 120",
      "] SET ANSI_NULL_DEFAULT OFF",
      "] SET ANSI_NULLS OFF",
      "] SET ANSI_PADDING OFF",
      "] SET ANSI_WARNINGS OFF",
      "] SET ARITHABORT OFF",
      "] SET AUTO_CLOSE OFF",
      "] SET AUTO_SHRINK OFF",
      "] SET AUTO_CREATE_STATISTICS ON(INCREMENTAL = OFF)",
      "] SET AUTO_UPDATE_STATISTICS ON",
      "] SET CURSOR_CLOSE_ON_COMMIT OFF",
      "] SET CURSOR_DEFAULT  GLOBAL",
      "] SET CONCAT_NULL_YIELDS_NULL OFF",
      "] SET NUMERIC_ROUNDABORT OFF",
      "] SET QUOTED_IDENTIFIER OFF",
      "] SET RECURSIVE_TRIGGERS OFF",
      "] SET DISABLE_BROKER",
      "] SET AUTO_UPDATE_STATISTICS_ASYNC OFF",
      "] SET DATE_CORRELATION_OPTIMIZATION OFF",
      "] SET PARAMETERIZATION SIMPLE",
      "] SET READ_COMMITTED_SNAPSHOT OFF",
      "] SET READ_WRITE",
      "] SET RECOVERY SIMPLE",
      "] SET MULTI_USER",
      "] SET PAGE_VERIFY CHECKSUM",
      "] SET TARGET_RECOVERY_TIME = 0 SECONDS",
      "] SET DELAYED_DURABILITY = DISABLED",
      "] SET ALLOW_SNAPSHOT_ISOLATION ON",
  };
  for (const char* suffix : kSuffixes) {
    statements.push_back("ALTER DATABASE [" + bracketed + suffix);
  }
  return statements;
}

std::string Versao(TVeskDMConexao* DM) {
  return support::DottedVersion(support::ConnectionOf(DM, "Versao").GetServerVersion());
}

void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  if (_AUser == nullptr) {
    throw std::runtime_error("PegarUsuarios: _AUser não poder ser nil");
  }
  support::AppendSessionsQuietly(DM, std::string(kSessionsSql), *_AUser);
}

void CriarDataBase(TVeskDMConexao* DM, const std::string& Path) {
  TVeskSQLConnection& connection = support::ConnectionOf(DM, "CriarDataBase");
  for (const auto& statement : CriarDataBaseStatements(DeriveDatabaseFiles(Path))) {
    connection.ExecuteDirect(statement);
  }
}

}  // namespace tolvan::mssql
