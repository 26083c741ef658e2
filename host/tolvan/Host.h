// The calling of one export: the library loaded, the connection module built from the options,
// the export called with its arguments, and its output printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "ConsoleFrame.h"
#include "FirebirdProgress.h"
#include "Options.h"
#include "Plugin.h"
#include "platform/DynamicLibrary.h"
#include "vesk/VeskPack5.h"

namespace tolvan::cli {

// A failure whose message was copied out of the plug-in's exception, so that the exception object
// is gone before the library is unloaded (its type may live in the library).
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

template <typename F>
void CallKeepingMessage(F&& f) {
  try {
    f();
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    throw Failure(e.what());
  } catch (...) {
    throw Failure("falha desconhecida");
  }
}

class Host {
 public:
  Host(const Options& o, const PluginRef& plugin, std::ostream& out, std::ostream& err)
      : o_(o), plugin_(plugin), out_(out), err_(err) {}
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  void Load() { library_ = tolvan::platform::DynamicLibrary::Load(plugin_.path); }

  const tolvan::platform::DynamicLibrary& library() const { return *library_; }

  // Sets up the call's connection from the options: its driver and client library, its database
  // (for Firebird without --database the default embedded one, which this creates the first time
  // it is used), its user, and its password (the option's, else TOLVAN_PASSWORD, else one this
  // asks for on the terminal). Needs the plug-in loaded.
  void SetUpDatabaseAndLogin(const std::string& export_name);

  // The module on an open connection, so that a wrong key or password shows here, not as an
  // empty answer of an export that swallows its failures.
  TVeskDMConexao& Module();

  // Beside a Firebird backup shown live (frame, live; not --quiet) whose tables' rows are not known
  // before it: the rows, counted on a connection of tolvan's own while gbak runs and handed to the
  // frame once in; the frame shows no percentage until then. Its connection opens before gbak
  // starts (a server that does not answer holds gbak up to the connection's time limit, after the
  // run's own connection of BackupConn). The counting ends when the object goes. For a database
  // the engine opens in this process (a path without a server: gbak's engine holds the file alone
  // while it runs) the rows are estimated from the file's pages before gbak starts, and nothing is
  // returned. Nothing either when only the metadata is backed up.
  std::unique_ptr<TableRowCounter> CountTableRowsBeside(ConsoleFrame& frame, bool live);

  template <typename F>
  F Export(const std::string& name) const {
    return library_->Function<F>(name);
  }

  // Calls the export and prints its output; returns what was done, for the result line.
  std::string Call(const std::string& name);

  std::size_t EmptyLinesListed() const { return empty_lines_listed_; }

  // The tool's lines the operator has seen printed.
  std::set<std::string> PrintedLines() {
    return frame_ ? frame_->PrintedLines() : std::set<std::string>{};
  }

  // The settled connection values and the dump's path, for runs that call the exports themselves.
  const std::string& database() const { return database_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  const std::string& client_library() const { return client_library_; }
  std::string DumpPath() const;

  // Ends the status line of the run.
  void FinishFrame(bool succeeded) {
    if (frame_) {
      frame_->Finish(succeeded);
    }
  }

 private:
  std::string PasswordGivenOrAsked() const;
  // A connection set up from the options, not yet open.
  std::unique_ptr<TVeskSQLConnection> NewConnection() const;
  std::size_t PrintList(const std::vector<std::string>& list);
  ConsoleFrame::Settings FrameSettings(const std::string& name) const;
  TVeskFraProgresso* Frame(const std::string& name);
  void BeginStatus(std::function<std::optional<std::uint64_t>()> file_size,
                   std::function<ProgressState()> progress = {});

  const Options& o_;
  PluginRef plugin_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> library_;
  std::string driver_;
  std::string client_library_;
  std::string database_;
  std::string user_;
  std::string password_;
  std::unique_ptr<ConsoleFrame> frame_;
  std::size_t empty_lines_listed_ = 0;
  std::unique_ptr<TVeskSQLConnection> connection_;
  TVeskDMConexao dm_;
};

}  // namespace tolvan::cli
