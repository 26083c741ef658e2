// The PostgreSQL plug-in's exports: argument checks and a call into TolvanPostgreSQLUtil.
// Besides the family, the plug-in exports its guard and runners by name.
#include <cstdint>
#include <string>
#include <vector>

#include "TolvanPostgreSQLUtil.h"
#include "tolvan/Exports.h"

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

extern "C" {

TOLVAN_EXPORT std::string Versao(TVeskDMConexao* DM) {
  return tolvan::postgresql::Versao(DM);
}

TOLVAN_EXPORT void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  tolvan::postgresql::PegarUsuarios(DM, _AUser);
}

TOLVAN_EXPORT void PegarUser(TVeskDMConexao* DM, std::vector<std::string>* _AUsr) {
  tolvan::postgresql::PegarUser(DM, _AUsr);
}

TOLVAN_EXPORT void AddUser(TVeskDMConexao* DM, std::string AUserName, std::string AUserPass,
                           std::string /*AGroupName*/, std::string AFirstName,
                           std::string AMiddleName, std::string ALastName) {
  tolvan::postgresql::AddUser(DM, AUserName, AUserPass, AFirstName, AMiddleName, ALastName);
}

TOLVAN_EXPORT void CriarDataBase(TVeskDMConexao* DM, std::string Database, std::string User,
                                 std::string Password) {
  tolvan::postgresql::CriarDataBase(DM, Database, User, Password);
}

TOLVAN_EXPORT void CriarDataBaseVazia(TVeskDMConexao* DM, std::string Database,
                                      std::string /*User*/, std::string /*Password*/,
                                      bool /*InactiveIndexes*/) {
  tolvan::postgresql::CriarDataBaseVazia(DM, Database);
}

TOLVAN_EXPORT void CriarDataBaseFD(std::string Server, int32_t Port, std::string Database,
                                   std::string User, std::string Password) {
  tolvan::postgresql::CriarDataBaseFD(Server, Port, Database, User, Password);
}

TOLVAN_EXPORT void CriarBackup(TVeskSQLConnection* Conn) {
  tolvan::postgresql::CriarBackup(Conn);
}

TOLVAN_EXPORT std::string PegarVersaoServidor(TVeskSQLConnection* Conn) {
  return tolvan::postgresql::PegarVersaoServidor(Conn);
}

TOLVAN_EXPORT void VerificarVersaoFerramentas(TVeskSQLConnection* Conn, std::string ToolFolder,
                                              std::vector<std::string> Tools) {
  tolvan::postgresql::VerificarVersaoFerramentas(Conn, ToolFolder, Tools);
}

TOLVAN_EXPORT TVeskSQLConnection* CriarConexaoPostgres(std::string Server, std::string UserName,
                                                       std::string Password, int32_t Port) {
  return tolvan::postgresql::CriarConexaoPostgres(Server, UserName, Password, Port);
}

TOLVAN_EXPORT void ExecutarPgDump(std::string ToolFolder, std::string Host, std::string Port,
                                  std::string Database, std::string User, std::string Password,
                                  std::string OutputFile, bool SchemaOnly) {
  tolvan::postgresql::ExecutarPgDump(ToolFolder, Host, Port, Database, User, Password, OutputFile,
                                     SchemaOnly);
}

TOLVAN_EXPORT void ExecutarPgRestore(std::string ToolFolder, std::string Host, std::string Port,
                                     std::string Database, std::string User, std::string Password,
                                     std::string InputFile) {
  tolvan::postgresql::ExecutarPgRestore(ToolFolder, Host, Port, Database, User, Password,
                                        InputFile);
}

}  // extern "C"

#if defined(__clang__)
#pragma clang diagnostic pop
#endif
