// The exports of the plug-in linked into a test program (LinkedPlugin.h), by name. The program's
// build names the plug-in: TOLVAN_LINKED_PLUGIN is its name, and TOLVAN_LINKED_<NAME> says which
// of the export lists below is its own.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "LinkedPlugin.h"
#include "tolvan/Exports.h"

// clang-format off
#if defined(TOLVAN_LINKED_TOLVANFIREBIRD)
#define TOLVAN_LINKED_EXPORTS(X)                                                          \
  X(Versao) X(PegarUsuarios) X(PegarPlan) X(Backup) X(BackupConn) X(Restore)             \
  X(RestoreConn) X(CriarDataBase) X(CriarDataBaseFD) X(CriarDataBaseVazia) X(PegarUser)  \
  X(AddUser) X(DeleteUser) X(ModifyUser) X(PegarDataBases)
#elif defined(TOLVAN_LINKED_TOLVANPOSTGRESQL)
#define TOLVAN_LINKED_EXPORTS(X)                                                          \
  X(Versao) X(PegarUsuarios) X(PegarUser) X(AddUser) X(CriarDataBase)                    \
  X(CriarDataBaseVazia) X(CriarDataBaseFD) X(CriarBackup) X(PegarVersaoServidor)         \
  X(VerificarVersaoFerramentas) X(CriarConexaoPostgres) X(ExecutarPgDump)                \
  X(ExecutarPgRestore)

// The plug-in's own exports beyond the family, as TolvanPostgreSQL.cpp defines them.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" {
std::string PegarVersaoServidor(TVeskSQLConnection* Conn);
void VerificarVersaoFerramentas(TVeskSQLConnection* Conn, std::string ToolFolder,
                                std::vector<std::string> Tools);
TVeskSQLConnection* CriarConexaoPostgres(std::string Server, std::string UserName,
                                         std::string Password, int32_t Port);
void ExecutarPgDump(std::string ToolFolder, std::string Host, std::string Port,
                    std::string Database, std::string User, std::string Password,
                    std::string OutputFile, bool SchemaOnly);
void ExecutarPgRestore(std::string ToolFolder, std::string Host, std::string Port,
                       std::string Database, std::string User, std::string Password,
                       std::string InputFile);
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
#elif defined(TOLVAN_LINKED_TOLVANORACLE)
#define TOLVAN_LINKED_EXPORTS(X)                                                          \
  X(Versao) X(PegarUsuarios) X(AddUser) X(DeleteUser) X(ModifyUser) X(PegarDataBases)    \
  X(CriarDataBase) X(Backup) X(BackupConn) X(Restore) X(RestoreConn)
#elif defined(TOLVAN_LINKED_TOLVANMSSQL)
#define TOLVAN_LINKED_EXPORTS(X) X(Versao) X(PegarUsuarios) X(CriarDataBase)
#endif
// clang-format on

namespace tolvan::testing {

const std::map<std::string, void*>& LinkedExports() {
#define TOLVAN_LINKED_ENTRY(name) {#name, reinterpret_cast<void*>(&::name)},
  static const std::map<std::string, void*> exports = {TOLVAN_LINKED_EXPORTS(TOLVAN_LINKED_ENTRY)};
#undef TOLVAN_LINKED_ENTRY
  return exports;
}

const char* LinkedPlugin::LinkedName() {
  return TOLVAN_LINKED_PLUGIN;
}

}  // namespace tolvan::testing
