// The host's connection objects, queries and progress frame, and the data-access components the
// plug-ins create themselves. Implemented by the host (host/VeskPack5).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tolvan/Visibility.h"
#include "vesk/VeskPackBase5.h"

namespace vesk::driver {
class Session;
}  // namespace vesk::driver

// An error reported by a database driver or server, carrying the server's own text.
class VESKPACK_API TVeskDriverError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  ~TVeskDriverError() override;
};

// ---------------------------------------------------------------------------------------------
// SQL connection

struct TVeskTransactionOptions {
  bool ReadOnly = false;
};

// The optional transaction object of a connection.
class VESKPACK_API TVeskTransaction {
 public:
  TVeskTransactionOptions Options;
};

// Which part of the information report to give.
enum class TVeskInfoReportPart { All, Connection };

class VESKPACK_API TVeskSQLConnection {
 public:
  TVeskSQLConnection();
  ~TVeskSQLConnection();
  TVeskSQLConnection(const TVeskSQLConnection&) = delete;
  TVeskSQLConnection& operator=(const TVeskSQLConnection&) = delete;

  // The driver behind the connection ("Firebird", "PostgreSQL", "ODBC", or one a test registers).
  std::string DriverName;
  // The parameter list: lines of the form name=value.
  std::vector<std::string> Params;
  // File name of the client library the driver loads (empty: the driver's default).
  std::string ClientLibrary;
  // The value the transaction object's read-only option is restored to.
  bool ReadOnlyTransaction = false;

  // The value of the parameter Name (names compare ignoring case); empty when missing.
  std::string GetParam(const std::string& Name) const;
  // Sets the parameter, replacing the line that holds it or appending one.
  void SetParam(const std::string& Name, const std::string& Value);

  // The database key: a path, or server ":" path (the server may carry "/" port).
  std::string GetDATABASENAME_KEY() const;

  void Open();
  void Close();
  bool Connected() const;

  // A second open connection to the same database. It stays owned by this connection and is freed
  // with it; the caller must not free it. A later call gives the same clone (opened again if it
  // was closed), or a new one when this connection's settings have changed since.
  TVeskSQLConnection* CloneConnection();

  // Runs one statement.
  void ExecuteDirect(const std::string& SQL);

  // The transaction object, or nullptr when the connection has none.
  TVeskTransaction* Transaction();
  // Gives the connection a transaction object (or takes it away).
  void SetHasTransaction(bool Value);

  // Fills List with lines of the form name " = " value.
  void GetInfoReport(std::vector<std::string>& List, TVeskInfoReportPart Part);

  // The server version from the connection's metadata (encoding documented by each driver).
  int64_t GetServerVersion();

 private:
  friend class TVeskDMConexao;
  friend class TVeskQuery;
  // The open driver session, opening the connection first when it is closed.
  vesk::driver::Session& Session();

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The host's connection module.
class VESKPACK_API TVeskDMConexao {
 public:
  // Its SQL connection, owned by the host.
  TVeskSQLConnection* SQLConnection = nullptr;
  // The client-library version the host expects.
  std::string ExpectedClientVersion;

  // Transaction number Id on the SQL connection; all work on that connection goes through it
  // until it ends. The flags are the isolation (read committed) and read-only options.
  void StartTransaction(int Id, bool ReadCommitted, bool ReadOnly);
  void Commit(int Id);
  void RollBack(int Id);
};

// ---------------------------------------------------------------------------------------------
// Queries

// The dataset behind a query. FetchAll makes the query read every row.
class VESKPACK_API TVeskDataSet {
 public:
  bool FetchAll = false;
};

class VESKPACK_API TVeskQuery {
 public:
  TVeskQuery();
  ~TVeskQuery();
  TVeskQuery(const TVeskQuery&) = delete;
  TVeskQuery& operator=(const TVeskQuery&) = delete;

  TVeskSQLConnection* SQLConnection = nullptr;
  std::string SQL;

  // Opens SQL on SQLConnection (connecting it when it is closed) and stands on the first row.
  void Open();
  void Close();
  bool Active() const;

  void First();
  void Next();
  bool Eof() const;

  int FieldCount() const;
  // Position of the field named Name (ignoring case); throws when there is none.
  int FieldIndex(const std::string& Name) const;
  // The field's value on the current row as text; a null reads as the empty text.
  std::string FieldAsString(int Index) const;
  std::string FieldByName(const std::string& Name) const;
  bool FieldIsNull(int Index) const;

  TVeskDataSet& DataSet();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Opens SQL and returns the open query, which the caller frees with DestruirSQL. Connection null:
// the host's default connection. Params (name=value lines) may be null. The other arguments are
// kept for the callers' sake: false, false, 10, "", and true.
VESKPACK_API TVeskQuery* ExecutarSQL(const std::string& SQL, const std::vector<std::string>* Params,
                                     bool Prepare, bool Unidirectional, int Timeout,
                                     const std::string& Name, TVeskSQLConnection* Connection,
                                     bool Open);

// The query's dataset.
VESKPACK_API TVeskDataSet* SDS(TVeskQuery* Query);

// Frees the query and clears the reference.
VESKPACK_API void DestruirSQL(TVeskQuery*& Query);

// Runs one statement on the default connection.
VESKPACK_API void ExecutarSQLDireto(const std::string& SQL);

// Prepares a new connection of the given kind (3: PostgreSQL).
VESKPACK_API void ConfigurarSQLConnection(TVeskSQLConnection* Connection, int Kind);

// A stand-alone connection of the data-access layer, named by a driver id ("PG") and parameters.
class VESKPACK_API TVeskFDConnection : public TVeskSQLConnection {
 public:
  std::string DriverID;
  // Runs one statement; with IgnoreObjNotExists set, an error about a missing object is ignored.
  void ExecSQL(const std::string& SQL, bool IgnoreObjNotExists);
};

// ---------------------------------------------------------------------------------------------
// Progress frame

class VESKPACK_API TVeskFraProgresso {
 public:
  TVeskFraProgresso();
  virtual ~TVeskFraProgresso();
  TVeskFraProgresso(const TVeskFraProgresso&) = delete;
  TVeskFraProgresso& operator=(const TVeskFraProgresso&) = delete;

  // Progress display mode on or off: circular, or partial circular.
  virtual void SetEhCircular(bool Value);
  virtual void SetEhCircularParcial(bool Value);
  // Keep the captured lines (GetCaptureText gives them). Switching keeping on starts an empty
  // capture, also when it was on already.
  virtual void SetCaptureGuardar(bool Value);
  // The captured lines joined by CR LF: at most the first and the last 256 KiB of them, with a
  // line between saying how many were left out.
  virtual std::string GetCaptureText() const;
  // The line callback handed to CaptureExecute: shows the line and keeps it when capture keeping
  // is on. Setting Stop asks the run to end.
  virtual void DoCaptureLine(const std::string& Line, bool& Stop);

  // Written directly by the plug-ins: the circular-mode member and the pending text.
  bool EhCircular = false;
  std::string TextoPendente;

 protected:
  // Shows one line to the operator; the host's frame overrides it.
  virtual void ShowLine(const std::string& Line);

 private:
  struct Capture;
  std::unique_ptr<Capture> capture_;
};

// ---------------------------------------------------------------------------------------------
// Firebird components of the data-access library. They load the client library under the name
// "ibclient64.dll" (libibclient64.so on POSIX, falling back on the system's libfbclient.so.2)
// from the host program's folder.

enum class TVeskIBProtocol { Local, TCP };

struct TVeskIBUserInfo {
  std::string UserName;
  std::string FirstName;
  std::string MiddleName;
  std::string LastName;
};

enum class TVeskIBSecurityAction { AddUser, DeleteUser, ModifyUser, DisplayUsers };

// Security service client: the Services API user actions.
class VESKPACK_API TVeskIBSecurityService {
 public:
  TVeskIBSecurityService();
  ~TVeskIBSecurityService();
  TVeskIBSecurityService(const TVeskIBSecurityService&) = delete;
  TVeskIBSecurityService& operator=(const TVeskIBSecurityService&) = delete;

  std::string ServerName;
  TVeskIBProtocol Protocol = TVeskIBProtocol::Local;
  std::vector<std::string> Params;  // USER_NAME=..., PASSWORD=...
  bool LoginPrompt = true;
  bool Trace = true;

  void Attach();
  void Detach();

  TVeskIBSecurityAction SecurityAction = TVeskIBSecurityAction::AddUser;
  std::string UserName;
  std::string Password;
  std::string FirstName;
  std::string MiddleName;
  std::string LastName;

  // Runs SecurityAction with the fields above.
  void Run();
  // Runs the display-users action and gives the users in the order the service returns them.
  std::vector<TVeskIBUserInfo> DisplayUsers();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class VESKPACK_API TVeskIBTransaction {
 public:
  TVeskIBTransaction();
  ~TVeskIBTransaction();
  TVeskIBTransaction(const TVeskIBTransaction&) = delete;
  TVeskIBTransaction& operator=(const TVeskIBTransaction&) = delete;

  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;

 private:
  friend class TVeskIBDatabase;
  friend class TVeskIBScript;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class VESKPACK_API TVeskIBDatabase {
 public:
  TVeskIBDatabase();
  ~TVeskIBDatabase();
  TVeskIBDatabase(const TVeskIBDatabase&) = delete;
  TVeskIBDatabase& operator=(const TVeskIBDatabase&) = delete;

  std::string DatabaseName;
  TVeskIBTransaction* DefaultTransaction = nullptr;
  std::vector<std::string> Params;  // the creation clauses, one a line
  bool LoginPrompt = true;
  int IdleTimer = 0;
  int SQLDialect = 3;
  bool Trace = true;

  // Creates the database: CREATE DATABASE 'name' followed by the Params lines.
  void CreateDatabase();
  void Open();
  void Close();
  bool Connected() const;

 private:
  friend class TVeskIBScript;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Runs a script of statements ended by ";" on a database in a transaction.
class VESKPACK_API TVeskIBScript {
 public:
  TVeskIBScript();
  ~TVeskIBScript();
  TVeskIBScript(const TVeskIBScript&) = delete;
  TVeskIBScript& operator=(const TVeskIBScript&) = delete;

  TVeskIBDatabase* Database = nullptr;
  TVeskIBTransaction* Transaction = nullptr;
  std::vector<std::string> Script;  // the script's lines

  void ExecuteScript();
};
