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

}  // extern "C"
