// The Oracle plug-in's exports: a call into TolvanOracleUtil each. The arguments of the family
// that an Oracle export does not read are accepted and ignored.
#include "TolvanOracleUtil.h"
#include "tolvan/Exports.h"

extern "C" {

TOLVAN_EXPORT std::string Versao(TVeskDMConexao*) {
  return tolvan::oracle::Versao();
}

TOLVAN_EXPORT void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  tolvan::oracle::PegarUsuarios(DM, _AUser);
}

TOLVAN_EXPORT void AddUser(TVeskDMConexao*, std::string AUserName, std::string AUserPass,
                           std::string AGroupName, std::string, std::string, std::string) {
  tolvan::oracle::AddUser(AUserName, AUserPass, AGroupName);
}

TOLVAN_EXPORT void DeleteUser(TVeskDMConexao*, std::string AUserName) {
  tolvan::oracle::DeleteUser(AUserName);
}

TOLVAN_EXPORT void ModifyUser(TVeskDMConexao*, std::string AUserName, std::string AUserPass,
                              std::string, std::string, std::string, std::string) {
  tolvan::oracle::ModifyUser(AUserName, AUserPass);
}

TOLVAN_EXPORT void PegarDataBases(TVeskDMConexao*, std::vector<std::string>*, int32_t&, int32_t&) {}

TOLVAN_EXPORT void CriarDataBase(TVeskDMConexao* DM, std::string Database, std::string User,
                                 std::string Password) {
  tolvan::oracle::CriarDataBase(DM, Database, User, Password);
}

TOLVAN_EXPORT void Backup(std::string Database, std::string User, std::string Password,
                          std::string File, bool Service, TVeskFraProgresso* Frame, bool Circular,
                          bool, std::string, std::string, bool) {
  tolvan::oracle::Backup(Database, User, Password, File, Service, Frame, Circular);
}

TOLVAN_EXPORT void BackupConn(TVeskDMConexao* DM, std::string File, bool Service,
                              TVeskFraProgresso* Frame, bool Circular, bool) {
  tolvan::oracle::BackupConn(DM, File, Service, Frame, Circular);
}

TOLVAN_EXPORT void Restore(std::string Database, std::string User, std::string Password,
                           std::string File, bool, TVeskFraProgresso* Frame, bool Circular, bool,
                           std::string, std::string, bool) {
  tolvan::oracle::Restore(Database, User, Password, File, Frame, Circular);
}

TOLVAN_EXPORT void RestoreConn(TVeskDMConexao* DM, std::string Password, std::string File,
                               std::string Target, bool Service, TVeskFraProgresso* Frame,
                               bool Circular, bool) {
  tolvan::oracle::RestoreConn(DM, Password, File, Target, Service, Frame, Circular);
}

}  // extern "C"
