// The SQL Server plug-in's exports: a call into TolvanMSSQLUtil each.
#include "TolvanMSSQLUtil.h"
#include "tolvan/Exports.h"

extern "C" {

TOLVAN_EXPORT std::string Versao(TVeskDMConexao* DM) {
  return tolvan::mssql::Versao(DM);
}

TOLVAN_EXPORT void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  tolvan::mssql::PegarUsuarios(DM, _AUser);
}

TOLVAN_EXPORT void CriarDataBase(TVeskDMConexao* DM, std::string Database, std::string,
                                 std::string) {
  tolvan::mssql::CriarDataBase(DM, Database);
}

}  // extern "C"
