// The work behind the Firebird plug-in's exports. TolvanFirebird.cpp only forwards to these.
// Implemented by concern: TolvanFirebirdUtil.cpp (version and attachments), FirebirdGuard.cpp
// (the tool-version guard), FirebirdGbak.cpp (the gbak runs), FirebirdErrorText.cpp,
// FirebirdClientLibrary.cpp (the client library's one loader and the attaches' limit),
// FirebirdServiceBuffers.cpp and FirebirdServices.cpp (the client library's error text and
// services query), FirebirdUsers.cpp (security users), FirebirdCreation.cpp and
// FirebirdResources.cpp (database creation and its scripts).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "FirebirdClientApi.h"
#include "tolvan/support/DatabaseKey.h"
#include "vesk/VeskPack5.h"

namespace tolvan::firebird {

// ---------------------------------------------------------------------------------------------
// Version and attachments

inline constexpr std::string_view kOdsSql =
    "select MON$ODS_MAJOR||'.'||MON$ODS_MINOR ODS from MON$DATABASE";

inline constexpr std::string_view kAttachmentsSql =
    "select trim(MON$USER) || ' em ' || trim(MON$REMOTE_ADDRESS) || ' no ' || "
    "trim(MON$REMOTE_PROCESS) USERNAME from MON$ATTACHMENTS where MON$USER <> 'Cache Writer' and "
    "MON$USER <> 'Garbage Collector'";

inline constexpr std::string_view kServerVersionName = "Server version ";

// The version part of the version line, taken from an information report (lines of the form
// name " = " value): the "Server version " value, trimmed, up to its first line end. The whole
// value when it is one line (the embedded engine reports one). Empty when the report has none.
std::string VersionFromInfoReport(const std::vector<std::string>& report);

// Server version and on-disk structure of the module's database, on a clone of its connection:
// "<version> ODS <major.minor>".
std::string Versao(TVeskDMConexao* DM);

// Appends one line per attachment to the module's database; every failure after the argument
// check is swallowed.
void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser);

std::string PegarPlan(TVeskDMConexao* DM, const std::string& SQL);

// ---------------------------------------------------------------------------------------------
// Backup and restore through gbak, behind the tool-version guard

// Application directory + "gbak" (".exe" on Windows).
std::string GbakToolPath(const std::string& app_dir);

// The message file the guard compares: the registry folder as it is + "firebird.msg", or, when
// the value is missing or empty, the parent folder of app_dir + "firebird.msg".
std::string FirebirdMsgPath(const std::string& app_dir,
                            const std::optional<std::string>& default_instance);

// The tool-version guard: compares gbak with the expected client version, the client library and
// the message file with gbak; renames kept copies of the right version into place (files of the
// application folder and of the server's folder change) or warns (report: the gbak mismatch box,
// Backup only). Returns the tool path.
std::string VerificarVersaoGbak(const std::string& expected, const std::string& library,
                                bool report);

// The database as gbak gets it (text) and the host of the service part (server; empty: no service
// part): with the service flag, a host of two or more characters before the first ":" is split
// off; without it the database stays as it is.
support::ServerSplit SplitServiceHost(const std::string& database, bool service);

// The gbak arguments after " -b -z" (backup) and after the tool path (restore). The password is
// never among them: gbak reads it from ISC_PASSWORD in its own environment. An empty user gives no
// " -user" piece at all (gbak then takes the user of its environment), so that no other piece can
// stand in for the user; a user with a blank, a tab or a double quote is quoted by the C runtime's
// rules.
std::string GbakBackupArguments(const std::string& database, const std::string& user,
                                const std::string& file, const std::string& service_host,
                                bool quiet, bool metadata_only);
std::string GbakRestoreArguments(const std::string& target, const std::string& user,
                                 const std::string& file, const std::string& service_host,
                                 bool quiet, bool inactive_indexes);

// True when gbak would take the backup file for its standard output rather than a file: "stdout"
// in any case, "-", and this system's names for its standard output and error streams.
bool NamesStandardOutput(const std::string& file);

// True when the backup file is the database itself: the same text as the database's path on its
// server (after the host), or the same file of this machine with links and ".." resolved.
bool IsTheDatabaseItself(const std::string& database_key, const std::string& file);

// Raised by Restore when gbak restored the database whole but could not activate every index:
// the database is kept.
class ERestoreNotOnline : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// RestoreConn's target: prefixed with the connection's host unless it names one of its own (a key
// without ":" is an alias whose text names the server; a path of this machine is not).
std::string RestoreConnTarget(const std::string& target, const std::string& database_key);

void Backup(const std::string& Database, const std::string& User, const std::string& Password,
            const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
            bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
            bool MetadataOnly);
void BackupConn(TVeskDMConexao* DM, const std::string& File, bool Service, TVeskFraProgresso* Frame,
                bool Circular, bool MetadataOnly);
void Restore(const std::string& Target, const std::string& User, const std::string& Password,
             const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
             bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
             bool InactiveIndexes);
void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool Service, TVeskFraProgresso* Frame, bool Circular,
                 bool InactiveIndexes);

}  // namespace tolvan::firebird

// ---------------------------------------------------------------------------------------------
// Firebird client: connection limit, error text, services query (PegarDataBases), security users

namespace tolvan::firebird {

// How long the plug-in's own attaches may wait for the server: the host connection's
// ConnectTimeout parameter, or the default when there is none (nor a connection).
std::chrono::seconds ConnectLimitOf(TVeskDMConexao* DM);

// Runs call, an attach to server (a host as a database key names it), or a creation there, within
// the connection limit: an interrupt or the limit ends its wait with the limit's message. Without a
// server (this machine's files, the local protocol) it runs unwatched. The plug-in's own copy of
// the platform code records the operator's interrupt meanwhile (ScopedInterruptRecorder): the
// host's handler keeps its record in the host's copy, which the watch cannot see.
void AttachWithinLimit(const std::string& server, std::chrono::seconds limit,
                       const std::function<void()>& call);

// The plug-in's one status vector, handed to every client call.
IscStatus* StatusVector();

// The client library the error text resolves its entry points from; nullptr: none loaded.
void SetErrorTextLibrary(const tolvan::platform::DynamicLibrary* library);
// Empties the cache of the error text's entry points.
void ForgetErrorTextEntryPoints();

// Returns result unchanged unless raise is set and result is positive; then raises the Firebird
// error text of the status vector (std::runtime_error), or the operating system's last error
// (std::system_error) when the entry points cannot be found.
int32_t CheckStatus(int32_t result, bool raise);

// True when the status of a refused attach says that the server has no file of that name: an I/O
// error of the open whose system error is "no such file" (or, on Windows, "no such path").
bool StatusSaysNoSuchFile(const IscStatus* status);

// The message lines of status joined by CR LF (no CR LF after a line that ends in LF), one final
// "." removed, then " sqlcode:" and " IBErrorCode:" (entry 1). status is not changed.
std::string FirebirdErrorText(const IscStatus* status, IscSqlCodeFn sqlcode,
                              IscInterpreteFn interprete);

inline constexpr std::string_view kFbClientMissing =
    "Firebird library fbclient.dll not found in the path. Please install InterBase to use this "
    "functionality";
inline constexpr std::string_view kSpbUnknown = "SPB Constant Unknown";
inline constexpr std::string_view kUnexpectedReply = "Unexpected Output buffer value";
inline constexpr std::size_t kServicesReplyLength = 32000;

// host ":service_mgr", or "service_mgr" for a key without a host (a drive letter is none, and
// neither is a key without ":").
std::string ServiceManagerName(const std::string& database_key);

// The service parameter block of a connection's parameter list: user name, password and role
// entries in list order; other names are skipped. Throws std::runtime_error: "SPB Constant
// Unknown" for a known name that the block does not take; a message naming the parameter for a
// value over 255 bytes.
std::string BuildServiceParameterBlock(const std::vector<std::string>& params);

// What a reply to the server database information request gave, in the order it was read.
struct DatabasesReply {
  std::optional<int32_t> attachments;
  std::optional<int32_t> databases;
  std::vector<std::string> names;  // 8-bit text as the server sent it
};

// Reads reply into out; integers through vax_integer. Throws std::runtime_error "Unexpected
// Output buffer value" at the first byte out of layout, or when the reply runs out of bytes
// before its end tag; what was read before stays in out.
void ParseDatabasesReply(std::string_view reply, IscVaxIntegerFn vax_integer, DatabasesReply& out);

// The attachments and databases of the server of DM's database, through the Services API of the
// client library library_name.
void PegarDataBases(TVeskDMConexao* DM, std::vector<std::string>* _ADbs, int32_t& Attachments,
                    int32_t& Databases, const std::string& library_name);
// The same with the platform's client library.
void PegarDataBases(TVeskDMConexao* DM, std::vector<std::string>* _ADbs, int32_t& Attachments,
                    int32_t& Databases);

// Security users through the data-access library's security service client (AddUser, DeleteUser,
// ModifyUser), after the arguments' checks.
enum class UserAction { Add = 0, Delete = 1, Modify = 2 };
void RunUserAction(UserAction action, TVeskDMConexao* DM, const std::string& AUserName,
                   const std::string& AUserPass, const std::string& AGroupName,
                   const std::string& AFirstName, const std::string& AMiddleName,
                   const std::string& ALastName);
void PegarUser(TVeskDMConexao* DM, std::vector<std::string>* _AUsr);

}  // namespace tolvan::firebird

// ---------------------------------------------------------------------------------------------
// Database creation (CriarDataBase, CriarDataBaseFD) and the empty copy (CriarDataBaseVazia)

namespace tolvan::firebird {

// The scripts compiled into the plug-in (generated at build time from TolvanFirebird/resources).
struct EmbeddedScript {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};
extern const EmbeddedScript kEmbeddedScripts[];
extern const std::size_t kEmbeddedScriptCount;

// The text of the script of that name, letter case ignored. Throws std::runtime_error naming it
// when there is none.
std::string_view ScriptResource(std::string_view name, const EmbeddedScript* scripts,
                                std::size_t count);
std::string_view ScriptResource(std::string_view name);

// The lines of a text (CR LF or LF ends; no line after a final line end).
std::vector<std::string> ScriptLines(std::string_view text);

inline constexpr std::string_view kAddMonthsDeclaration =
    "DECLARE EXTERNAL FUNCTION ADD_MONTHS timestamp, integer RETURNS timestamp ENTRY_POINT "
    "'addMonth' MODULE_NAME 'fbudf'; ";
inline constexpr std::string_view kErrorException = "CREATE EXCEPTION ERROR 'not supported'";
// Added after the database name when a failure came after the database was created: says so,
// and names the scripts that ran whole and were committed before the failure.
std::string CreatedNote(const std::vector<std::string>& committed_scripts);

// The script run after the embedded ones: the ADD_MONTHS declaration and the ERROR exception.
std::vector<std::string> FinalScript();

// The creation clauses "USER '...'" and "PASSWORD '...'", a quote inside a value doubled.
std::vector<std::string> CreationClauses(const std::string& user, const std::string& password);

// Copies the client of app_dir to the components' client file name when that is missing there.
void EnsureComponentsClient(const std::string& app_dir);

// The data-access components as the creation drives them; released runner first, then the
// connection, then the transaction.
class CreationComponents {
 public:
  virtual ~CreationComponents() = default;
  // Name, default transaction, the clauses, no login prompt, idle timer 0, dialect 3, no trace;
  // then CREATE DATABASE.
  virtual void Create(const std::string& database_name,
                      const std::vector<std::string>& clauses) = 0;
  virtual void Connect() = 0;
  virtual void StartTransaction() = 0;
  // The runner's text emptied, these lines loaded, run and committed.
  virtual void RunScript(const std::vector<std::string>& lines) = 0;
  // Calls the declared external functions once; raises the server's error when it will not run
  // them. Components that cannot tell do nothing.
  virtual void CallExternalFunctions() {}
};
using CreationComponentsFactory = std::function<std::unique_ptr<CreationComponents>()>;
std::unique_ptr<CreationComponents> LibraryCreationComponents();

// The creation shared by CriarDataBase and CriarDataBaseFD (DM nullptr). Every failure is shown
// and logged with the database name; none is raised.
void CreateDatabaseRoutine(TVeskDMConexao* DM, const std::string& database_name,
                           const std::string& user, const std::string& password,
                           const CreationComponentsFactory& factory, const std::string& app_dir);

void CriarDataBase(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                   const std::string& Password);
// server "/" port ":" path.
std::string CriarDataBaseFDName(const std::string& server, int32_t port, const std::string& path);
void CriarDataBaseFD(const std::string& Server, int32_t Port, const std::string& Database,
                     const std::string& User, const std::string& Password);

// The database name with its extension replaced by ".fbk" (added when it has none).
std::string BackupFileName(const std::string& database_name);
// The restore target: the current database's host put in front of a name without one of its own
// (a current name without ":" has none).
std::string EmptyCopyTarget(const std::string& database_name, const std::string& current_key);

// Backup's and Restore's arguments.
using GbakCall = std::function<void(const std::string&, const std::string&, const std::string&,
                                    const std::string&, bool, TVeskFraProgresso*, bool, bool,
                                    const std::string&, const std::string&, bool)>;
void CriarDataBaseVazia(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                        const std::string& Password, bool InactiveIndexes, const GbakCall& backup,
                        const GbakCall& restore);
void CriarDataBaseVazia(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                        const std::string& Password, bool InactiveIndexes);

}  // namespace tolvan::firebird
