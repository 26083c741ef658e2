// The export family shared by the four plug-ins. Each plug-in defines the exports it offers against
// these declarations, so a definition whose signature drifts does not compile; the host looks the
// exports up by name and calls them through the pointer types below.
//
// Argument kinds: module TVeskDMConexao*; SQL connection TVeskSQLConnection*; frame
// TVeskFraProgresso* (may be null); list std::vector<std::string>* (null means absent; exports
// append, never clear); text std::string by value, UTF-8; flag bool; number int32_t, out number
// int32_t&. Failures are exceptions: the plug-ins' own messages are std::runtime_error, driver and
// server errors pass through unchanged. Host and plug-ins share one compiler and one C++ runtime.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tolvan/Visibility.h"
#include "vesk/VeskPack5.h"

#define TOLVAN_EXPORT TOLVAN_DLL_EXPORT

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

extern "C" {

TOLVAN_EXPORT std::string Versao(TVeskDMConexao* DM);

TOLVAN_EXPORT void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser);

TOLVAN_EXPORT void PegarUser(TVeskDMConexao* DM, std::vector<std::string>* _AUsr);

TOLVAN_EXPORT void AddUser(TVeskDMConexao* DM, std::string AUserName, std::string AUserPass,
                           std::string AGroupName, std::string AFirstName, std::string AMiddleName,
                           std::string ALastName);

TOLVAN_EXPORT void DeleteUser(TVeskDMConexao* DM, std::string AUserName);

TOLVAN_EXPORT void ModifyUser(TVeskDMConexao* DM, std::string AUserName, std::string AUserPass,
                              std::string AGroupName, std::string AFirstName,
                              std::string AMiddleName, std::string ALastName);

TOLVAN_EXPORT void PegarDataBases(TVeskDMConexao* DM, std::vector<std::string>* _ADbs,
                                  int32_t& Attachments, int32_t& Databases);

TOLVAN_EXPORT std::string PegarPlan(TVeskDMConexao* DM, std::string SQL);

TOLVAN_EXPORT void CriarDataBase(TVeskDMConexao* DM, std::string Database, std::string User,
                                 std::string Password);

TOLVAN_EXPORT void CriarDataBaseVazia(TVeskDMConexao* DM, std::string Database, std::string User,
                                      std::string Password, bool InactiveIndexes);

TOLVAN_EXPORT void CriarDataBaseFD(std::string Server, int32_t Port, std::string Database,
                                   std::string User, std::string Password);

TOLVAN_EXPORT void CriarBackup(TVeskSQLConnection* Conn);

TOLVAN_EXPORT void Backup(std::string Database, std::string User, std::string Password,
                          std::string File, bool Service, TVeskFraProgresso* Frame, bool Circular,
                          bool Quiet, std::string ClientVersion, std::string ClientLibrary,
                          bool MetadataOnly);

TOLVAN_EXPORT void BackupConn(TVeskDMConexao* DM, std::string File, bool Service,
                              TVeskFraProgresso* Frame, bool Circular, bool MetadataOnly);

TOLVAN_EXPORT void Restore(std::string Database, std::string User, std::string Password,
                           std::string File, bool Service, TVeskFraProgresso* Frame, bool Circular,
                           bool Quiet, std::string ClientVersion, std::string ClientLibrary,
                           bool InactiveIndexes);

TOLVAN_EXPORT void RestoreConn(TVeskDMConexao* DM, std::string Password, std::string File,
                               std::string Target, bool Service, TVeskFraProgresso* Frame,
                               bool Circular, bool InactiveIndexes);

}  // extern "C"

#if defined(__clang__)
#pragma clang diagnostic pop
#endif

namespace tolvan {

// Pointer types the host calls the exports through.
using VersaoFn = decltype(&Versao);
using PegarUsuariosFn = decltype(&PegarUsuarios);
using PegarUserFn = decltype(&PegarUser);
using AddUserFn = decltype(&AddUser);
using DeleteUserFn = decltype(&DeleteUser);
using ModifyUserFn = decltype(&ModifyUser);
using PegarDataBasesFn = decltype(&PegarDataBases);
using PegarPlanFn = decltype(&PegarPlan);
using CriarDataBaseFn = decltype(&CriarDataBase);
using CriarDataBaseVaziaFn = decltype(&CriarDataBaseVazia);
using CriarDataBaseFDFn = decltype(&CriarDataBaseFD);
using CriarBackupFn = decltype(&CriarBackup);
using BackupFn = decltype(&Backup);
using BackupConnFn = decltype(&BackupConn);
using RestoreFn = decltype(&Restore);
using RestoreConnFn = decltype(&RestoreConn);

// Every name of the family, in the order above.
inline constexpr std::array<std::string_view, 16> kExportNames = {
    "Versao",        "PegarUsuarios",      "PegarUser",       "AddUser",
    "DeleteUser",    "ModifyUser",         "PegarDataBases",  "PegarPlan",
    "CriarDataBase", "CriarDataBaseVazia", "CriarDataBaseFD", "CriarBackup",
    "Backup",        "BackupConn",         "Restore",         "RestoreConn"};

}  // namespace tolvan
