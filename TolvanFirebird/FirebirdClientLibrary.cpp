// The one loader of the Firebird client library in the plug-in, and the limit of its attaches.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "FirebirdClientApi.h"
#include "TolvanFirebirdUtil.h"
#include "platform/ConnectLimit.h"
#include "platform/DynamicLibrary.h"
#include "platform/FirebirdClientExit.h"

namespace tolvan::firebird {

const tolvan::platform::DynamicLibrary& LoadClientLibrary(const std::string& name) {
  // Gone with the plug-in; the clients stay loaded whoever unloads the plug-in.
  static std::map<std::string, std::unique_ptr<platform::DynamicLibrary>> libraries;
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  auto& slot = libraries[name];
  if (!slot) {
    slot = platform::DynamicLibrary::Load(name);
    slot->KeepLoadedUntilExit();
    platform::ShutDownFirebirdClientsAtExit();
  }
  return *slot;
}

std::chrono::seconds ConnectLimitOf(TVeskDMConexao* DM) {
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    return platform::kDefaultConnectTimeout;
  }
  return platform::ConnectTimeoutFrom(
      DM->SQLConnection->GetParam(std::string(platform::kConnectTimeoutParameter)));
}

void AttachWithinLimit(const std::string& server, std::chrono::seconds limit,
                       const std::function<void()>& call) {
  if (server.empty()) {
    call();
    return;
  }
  platform::ConnectWithinLimit(server, limit, call);
}

}  // namespace tolvan::firebird
