#include "platform/FirebirdClientExit.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/DynamicLibrary.h"

namespace tolvan::platform {
namespace {

// The client's C interface: fb_shutdown(timeout in milliseconds, 0 for as long as it takes;
// reason) and fb_shutdown_callback(status vector, callback, phases, argument).
using Shutdown = int (*)(unsigned int, int);
using ShutdownCallback = int (*)(int, int, void*);
using RegisterShutdownCallback = intptr_t (*)(intptr_t*, ShutdownCallback, int, void*);
constexpr int kShutdownFinished = 8;
constexpr int kReasonApplicationStopped = -3;
constexpr int kStatusVectorLength = 20;

struct Client {
  Shutdown shutdown = nullptr;
  std::atomic<bool> down{false};
};

std::mutex g_mutex;
// By the address of fb_shutdown; never destroyed, since it is read at exit.
auto* g_clients = new std::map<void*, Client>;

int MarkDown(int, int, void* client) {
  static_cast<Client*>(client)->down = true;
  return 0;
}

void ShutDownKnownClients() {
  const std::lock_guard lock(g_mutex);
  for (auto& [address, client] : *g_clients) {
    if (!client.down.exchange(true)) {
      client.shutdown(0, kReasonApplicationStopped);
    }
  }
}

}  // namespace

void ShutDownFirebirdClientsAtExit() {
  {
    const std::lock_guard lock(g_mutex);
    for (const auto& library : LoadedLibrariesExporting("fb_shutdown")) {
      const auto shutdown = library->Function<Shutdown>("fb_shutdown");
      auto [entry, added] = g_clients->try_emplace(reinterpret_cast<void*>(shutdown));
      if (!added) {
        continue;
      }
      entry->second.shutdown = shutdown;
      // Told when it is shut down, by whoever shuts it down.
      if (const auto register_callback =
              library->Function<RegisterShutdownCallback>("fb_shutdown_callback")) {
        intptr_t status[kStatusVectorLength] = {};
        register_callback(status, MarkDown, kShutdownFinished, &entry->second);
      }
    }
  }
  RunAtExitBeforeLoadedLibraries(ShutDownKnownClients);
}

}  // namespace tolvan::platform
