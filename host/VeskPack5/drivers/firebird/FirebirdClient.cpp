#include "firebird/FirebirdClient.h"

#include <map>
#include <mutex>
#include <system_error>

#include "platform/ConnectLimit.h"
#include "platform/FirebirdClientExit.h"
#include "platform/Text.h"
#include "vesk/VeskPack5.h"

namespace vesk::firebird {

namespace {

template <typename F>
void Bind(const tolvan::platform::DynamicLibrary& library, const std::string& file_name,
          const char* name, F& target) {
  target = library.Function<F>(name);
  if (target == nullptr) {
    throw TVeskDriverError("A biblioteca cliente do Firebird " + file_name + " não tem a função " +
                           name);
  }
}

std::shared_ptr<const Client> Load(const std::string& file_name) {
  auto client = std::make_shared<Client>();
  try {
    client->library = tolvan::platform::DynamicLibrary::Load(file_name);
  } catch (const std::system_error& e) {
    throw TVeskDriverError("Não foi possível carregar a biblioteca cliente do Firebird " +
                           file_name + ": " + e.what());
  }
  const auto& lib = *client->library;
  Bind(lib, file_name, "isc_attach_database", client->attach_database);
  Bind(lib, file_name, "isc_detach_database", client->detach_database);
  Bind(lib, file_name, "isc_database_info", client->database_info);
  Bind(lib, file_name, "isc_start_multiple", client->start_multiple);
  Bind(lib, file_name, "isc_commit_transaction", client->commit_transaction);
  Bind(lib, file_name, "isc_rollback_transaction", client->rollback_transaction);
  Bind(lib, file_name, "isc_dsql_allocate_statement", client->allocate_statement);
  Bind(lib, file_name, "isc_dsql_prepare", client->prepare);
  Bind(lib, file_name, "isc_dsql_describe", client->describe);
  Bind(lib, file_name, "isc_dsql_execute", client->execute);
  Bind(lib, file_name, "isc_dsql_execute2", client->execute2);
  Bind(lib, file_name, "isc_dsql_execute_immediate", client->execute_immediate);
  Bind(lib, file_name, "isc_dsql_fetch", client->fetch);
  Bind(lib, file_name, "isc_dsql_free_statement", client->free_statement);
  Bind(lib, file_name, "isc_dsql_sql_info", client->sql_info);
  Bind(lib, file_name, "isc_open_blob2", client->open_blob2);
  Bind(lib, file_name, "isc_get_segment", client->get_segment);
  Bind(lib, file_name, "isc_close_blob", client->close_blob);
  Bind(lib, file_name, "fb_interpret", client->interpret);
  return client;
}

}  // namespace

std::shared_ptr<const Client> Client::Get(const std::string& file_name) {
  const std::string name = file_name.empty() ? VESK_FIREBIRD_DEFAULT_CLIENT : file_name;
  // Never unloaded: the client keeps threads and exit handlers of its own.
  static auto* clients = new std::map<std::string, std::shared_ptr<const Client>>;
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  auto& slot = (*clients)[name];
  if (!slot) {
    slot = Load(name);
    tolvan::platform::ShutDownFirebirdClientsAtExit();
  }
  return slot;
}

std::string Client::Messages(const IscStatus* status, bool utf8) const {
  std::string text;
  const IscStatus* cursor = status;
  char buffer[1024];
  while (interpret(buffer, sizeof buffer, &cursor) > 0) {
    if (!text.empty()) {
      text += "\n";
    }
    text += buffer;
  }
  return utf8 ? tolvan::platform::SanitizeUtf8(text) : tolvan::platform::FromSystemCodePage(text);
}

void Client::Check(const IscStatus* status, bool utf8) const {
  if (status[0] == 1 && status[1] != 0) {
    auto text = Messages(status, utf8);
    if (text.empty()) {
      text = "Erro do Firebird " + std::to_string(status[1]);
    }
    throw TVeskDriverError(text);
  }
}

std::string ServerOf(const std::string& name) {
  const std::size_t colon = name.find(':');
  return colon != std::string::npos && colon >= 2 ? name.substr(0, colon) : std::string();
}

void AppendConnectTimeout(std::string& block, char tag, std::chrono::seconds limit) {
  const auto seconds = static_cast<uint32_t>(limit.count());
  block += tag;
  block += static_cast<char>(4);
  for (int i = 0; i < 4; ++i) {
    block += static_cast<char>((seconds >> (8 * i)) & 0xFF);
  }
}

void CallWithinConnectLimit(const std::string& server, std::chrono::seconds limit,
                            const std::function<void()>& call,
                            const std::function<void()>& release) {
  if (server.empty()) {
    call();
    return;
  }
  try {
    tolvan::platform::ConnectWithinLimit(server, limit, call);
  } catch (const tolvan::platform::EConnectCut& e) {
    release();
    throw TVeskDriverError(e.what());
  }
}

}  // namespace vesk::firebird
