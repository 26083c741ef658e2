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
#include "platform/Interrupt.h"

namespace tolvan::firebird {

const tolvan::platform::DynamicLibrary& LoadClientLibrary(const std::string& name) {
  // Gone with the plug-in; the clients stay loaded whoever unloads the plug-in. This registry is
  // the plug-in's own (its platform code is a private copy): the host's driver and every other
  // plug-in keep theirs, and whichever shuts a client down at exit first tells the others'
  // registries, so that none shuts it down twice (ShutDownFirebirdClientsAtExit).
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
  const platform::ScopedInterruptRecorder record_interrupts;
  platform::ConnectWithinLimit(server, limit, call);
}

}  // namespace tolvan::firebird
