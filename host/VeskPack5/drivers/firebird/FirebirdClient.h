// The few entry points and constants of the Firebird client's C interface that the driver uses,
// declared here so that the library is loaded at run time and no import library is needed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/DynamicLibrary.h"
#include "platform/Interrupt.h"
#include "platform/Text.h"
#include "tolvan/support/FirebirdUser.h"

namespace vesk::firebird {

using IscStatus = intptr_t;
using IscHandle = uint32_t;  // FB_API_HANDLE on 64-bit builds
inline constexpr int kStatusLength = 20;

struct IscQuad {
  int32_t high;
  uint32_t low;
};

struct XSqlVar {
  int16_t sqltype;
  int16_t sqlscale;
  int16_t sqlsubtype;
  int16_t sqllen;
  char* sqldata;
  int16_t* sqlind;
  int16_t sqlname_length;
  char sqlname[32];
  int16_t relname_length;
  char relname[32];
  int16_t ownname_length;
  char ownname[32];
  int16_t aliasname_length;
  char aliasname[32];
};

struct XSqlDa {
  int16_t version;
  char sqldaid[8];
  int32_t sqldabc;
  int16_t sqln;
  int16_t sqld;
  XSqlVar sqlvar[1];
};

// One database of a transaction start (the client's TEB).
struct TransactionBlock {
  IscHandle* database;
  int32_t tpb_length;
  const char* tpb;
};

namespace api {
inline constexpr int kSqlDaVersion1 = 1;
inline constexpr int kDialect3 = 3;
inline constexpr int kDsqlClose = 1;
inline constexpr int kDsqlDrop = 2;

inline constexpr int kSqlText = 452;
inline constexpr int kSqlVarying = 448;
inline constexpr int kSqlShort = 500;
inline constexpr int kSqlLong = 496;
inline constexpr int kSqlFloat = 482;
inline constexpr int kSqlDouble = 480;
inline constexpr int kSqlDFloat = 530;
inline constexpr int kSqlTimestamp = 510;
inline constexpr int kSqlBlob = 520;
inline constexpr int kSqlArray = 540;
inline constexpr int kSqlQuad = 550;
inline constexpr int kSqlTypeTime = 560;
inline constexpr int kSqlTypeDate = 570;
inline constexpr int kSqlInt64 = 580;
inline constexpr int kSqlBoolean = 32764;
inline constexpr int kSqlNull = 32766;

inline constexpr char kDpbVersion1 = 1;
inline constexpr char kDpbUserName = 28;
inline constexpr char kDpbPassword = 29;
inline constexpr char kDpbLcCtype = 48;
inline constexpr char kDpbConnectTimeout = 57;
inline constexpr char kDpbSqlRoleName = 60;
// Says that the block's texts and the database name are UTF-8; without it the client reads them
// in the system's code page and the server refuses an accented user name.
inline constexpr char kDpbUtf8Filename = 77;

inline constexpr char kTpbVersion3 = 3;
inline constexpr char kTpbConcurrency = 2;
inline constexpr char kTpbWait = 6;
inline constexpr char kTpbRead = 8;
inline constexpr char kTpbWrite = 9;
inline constexpr char kTpbReadCommitted = 15;
inline constexpr char kTpbRecVersion = 17;

inline constexpr char kInfoEnd = 1;
inline constexpr char kInfoTruncated = 2;
inline constexpr char kInfoFirebirdVersion = 103;
inline constexpr char kInfoOdsVersion = 32;
inline constexpr char kInfoOdsMinorVersion = 33;
inline constexpr char kInfoPageSize = 14;
inline constexpr char kInfoSqlStmtType = 21;
inline constexpr int kStmtSelect = 1;
inline constexpr int kStmtSelectForUpdate = 12;
inline constexpr int kStmtExecProcedure = 8;

inline constexpr IscStatus kErrSegment = 335544366L;
inline constexpr IscStatus kErrSegstrEof = 335544367L;
}  // namespace api

// The loaded client library and its entry points. Kept loaded for the life of the process once
// loaded: the client's own threads may outlive any one session.
// Goes around every call that may be the client's first in the process (attaching a database or
// a service, creating a database): on that call the client puts its own SIGINT and SIGTERM
// handlers in place of the program's, which are put back, and picks the conversion of file names
// and user names by the calling thread's LC_CTYPE, which is UTF-8 for it.
class ClientEntry {
 public:
  ClientEntry() = default;
  ClientEntry(const ClientEntry&) = delete;
  ClientEntry& operator=(const ClientEntry&) = delete;

 private:
  tolvan::platform::KeepInterruptHandlers handlers_;
  tolvan::platform::Utf8CharacterTypeScope character_type_;
};

struct Client {
  using AttachDatabase = IscStatus (*)(IscStatus*, int16_t, const char*, IscHandle*, int16_t,
                                       const char*);
  using DetachDatabase = IscStatus (*)(IscStatus*, IscHandle*);
  using DatabaseInfo = IscStatus (*)(IscStatus*, IscHandle*, int16_t, const char*, int16_t, char*);
  using StartMultiple = IscStatus (*)(IscStatus*, IscHandle*, int16_t, void*);
  using EndTransaction = IscStatus (*)(IscStatus*, IscHandle*);
  using AllocateStatement = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*);
  using Prepare = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, uint16_t, const char*, uint16_t,
                                XSqlDa*);
  using Describe = IscStatus (*)(IscStatus*, IscHandle*, uint16_t, XSqlDa*);
  using Execute = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, uint16_t, const XSqlDa*);
  using Execute2 = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, uint16_t, const XSqlDa*,
                                 const XSqlDa*);
  using ExecuteImmediate = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, uint16_t, const char*,
                                         uint16_t, const XSqlDa*);
  using Fetch = IscStatus (*)(IscStatus*, IscHandle*, uint16_t, const XSqlDa*);
  using FreeStatement = IscStatus (*)(IscStatus*, IscHandle*, uint16_t);
  using SqlInfo = IscStatus (*)(IscStatus*, IscHandle*, int16_t, const char*, int16_t, char*);
  using OpenBlob2 = IscStatus (*)(IscStatus*, IscHandle*, IscHandle*, IscHandle*, IscQuad*,
                                  uint16_t, const unsigned char*);
  using GetSegment = IscStatus (*)(IscStatus*, IscHandle*, uint16_t*, uint16_t, char*);
  using CloseBlob = IscStatus (*)(IscStatus*, IscHandle*);
  using Interpret = int32_t (*)(char*, unsigned int, const IscStatus**);

  std::unique_ptr<tolvan::platform::DynamicLibrary> library;
  AttachDatabase attach_database = nullptr;
  DetachDatabase detach_database = nullptr;
  DatabaseInfo database_info = nullptr;
  StartMultiple start_multiple = nullptr;
  EndTransaction commit_transaction = nullptr;
  EndTransaction rollback_transaction = nullptr;
  AllocateStatement allocate_statement = nullptr;
  Prepare prepare = nullptr;
  Describe describe = nullptr;
  Execute execute = nullptr;
  Execute2 execute2 = nullptr;
  ExecuteImmediate execute_immediate = nullptr;
  Fetch fetch = nullptr;
  FreeStatement free_statement = nullptr;
  SqlInfo sql_info = nullptr;
  OpenBlob2 open_blob2 = nullptr;
  GetSegment get_segment = nullptr;
  CloseBlob close_blob = nullptr;
  Interpret interpret = nullptr;

  // The client library of that file name (empty: the platform's default), loaded once and never
  // unloaded; at exit every client of the process is shut down together
  // (platform::ShutDownFirebirdClientsAtExit). Throws TVeskDriverError when it cannot be loaded or
  // lacks an entry point.
  static std::shared_ptr<const Client> Get(const std::string& file_name);

  // Throws TVeskDriverError with the server's text when status holds an error. utf8: the
  // connection's character set is UTF8 (otherwise texts are read in the system code page).
  void Check(const IscStatus* status, bool utf8 = true) const;
  // The status vector's messages joined by "\n".
  std::string Messages(const IscStatus* status, bool utf8 = true) const;
};

// The server of a database or service name as the operator knows it ("srv/3050"): the text
// before the first ":" when that is two or more characters (one is a drive letter); empty for a
// database of this machine.
std::string ServerOf(const std::string& name);

// A connect-timeout entry of a parameter block: the tag, 4 and the seconds in 4 bytes, low first.
void AppendConnectTimeout(std::string& block, char tag, std::chrono::seconds limit);

// Runs a call that attaches to a server (or creates a database there) within the connection
// limit; no server, no limit. When the limit or an interrupt ended the call, release gives back
// whatever it got, and the limit's message is raised as a driver error.
void CallWithinConnectLimit(const std::string& server, std::chrono::seconds limit,
                            const std::function<void()>& call,
                            const std::function<void()>& release);

// The user name as a login block carries it, as the plug-in's gbak runs give it too.
using tolvan::support::FirebirdLoginName;

}  // namespace vesk::firebird
