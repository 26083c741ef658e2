// The Firebird plug-in's exports: argument checks and a call into TolvanFirebirdUtil.
#include "TolvanFirebirdUtil.h"
#include "tolvan/Exports.h"

extern "C" {

TOLVAN_EXPORT std::string Versao(TVeskDMConexao* DM) {
  return tolvan::firebird::Versao(DM);
}

TOLVAN_EXPORT void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  tolvan::firebird::PegarUsuarios(DM, _AUser);
}

TOLVAN_EXPORT std::string PegarPlan(TVeskDMConexao* DM, std::string SQL) {
  return tolvan::firebird::PegarPlan(DM, SQL);
}

TOLVAN_EXPORT void Backup(std::string Database, std::string User, std::string Password,
                          std::string File, bool Service, TVeskFraProgresso* Frame, bool Circular,
                          bool Quiet, std::string ClientVersion, std::string ClientLibrary,
                          bool MetadataOnly) {
  tolvan::firebird::Backup(Database, User, Password, File, Service, Frame, Circular, Quiet,
                           ClientVersion, ClientLibrary, MetadataOnly);
}

TOLVAN_EXPORT void BackupConn(TVeskDMConexao* DM, std::string File, bool Service,
                              TVeskFraProgresso* Frame, bool Circular, bool MetadataOnly) {
  tolvan::firebird::BackupConn(DM, File, Service, Frame, Circular, MetadataOnly);
}

TOLVAN_EXPORT void Restore(std::string Database, std::string User, std::string Password,
                           std::string File, bool Service, TVeskFraProgresso* Frame, bool Circular,
                           bool Quiet, std::string ClientVersion, std::string ClientLibrary,
                           bool InactiveIndexes) {
  tolvan::firebird::Restore(Database, User, Password, File, Service, Frame, Circular, Quiet,
                            ClientVersion, ClientLibrary, InactiveIndexes);
}

TOLVAN_EXPORT void RestoreConn(TVeskDMConexao* DM, std::string Password, std::string File,
                               std::string Target, bool Service, TVeskFraProgresso* Frame,
                               bool Circular, bool InactiveIndexes) {
  tolvan::firebird::RestoreConn(DM, Password, File, Target, Service, Frame, Circular,
                                InactiveIndexes);
}

TOLVAN_EXPORT void CriarDataBase(TVeskDMConexao* DM, std::string Database, std::string User,
                                 std::string Password) {
  tolvan::firebird::CriarDataBase(DM, Database, User, Password);
}

TOLVAN_EXPORT void CriarDataBaseFD(std::string Server, int32_t Port, std::string Database,
                                   std::string User, std::string Password) {
  tolvan::firebird::CriarDataBaseFD(Server, Port, Database, User, Password);
}

TOLVAN_EXPORT void CriarDataBaseVazia(TVeskDMConexao* DM, std::string Database, std::string User,
                                      std::string Password, bool InactiveIndexes) {
  tolvan::firebird::CriarDataBaseVazia(DM, Database, User, Password, InactiveIndexes);
}

TOLVAN_EXPORT void PegarUser(TVeskDMConexao* DM, std::vector<std::string>* _AUsr) {
  tolvan::firebird::PegarUser(DM, _AUsr);
}

TOLVAN_EXPORT void AddUser(TVeskDMConexao* DM, std::string AUserName, std::string AUserPass,
                           std::string AGroupName, std::string AFirstName, std::string AMiddleName,
                           std::string ALastName) {
  tolvan::firebird::RunUserAction(tolvan::firebird::UserAction::Add, DM, AUserName, AUserPass,
                                  AGroupName, AFirstName, AMiddleName, ALastName);
}

TOLVAN_EXPORT void DeleteUser(TVeskDMConexao* DM, std::string AUserName) {
  tolvan::firebird::RunUserAction(tolvan::firebird::UserAction::Delete, DM, AUserName, "", "", "",
                                  "", "");
}

TOLVAN_EXPORT void ModifyUser(TVeskDMConexao* DM, std::string AUserName, std::string AUserPass,
                              std::string AGroupName, std::string AFirstName,
                              std::string AMiddleName, std::string ALastName) {
  tolvan::firebird::RunUserAction(tolvan::firebird::UserAction::Modify, DM, AUserName, AUserPass,
                                  AGroupName, AFirstName, AMiddleName, ALastName);
}

TOLVAN_EXPORT void PegarDataBases(TVeskDMConexao* DM, std::vector<std::string>* _ADbs,
                                  int32_t& Attachments, int32_t& Databases) {
  tolvan::firebird::PegarDataBases(DM, _ADbs, Attachments, Databases);
}

}  // extern "C"
