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
constexpr int kShutdownConfirmation = 1;
constexpr int kShutdownFinished = 8;
constexpr int kReasonApplicationStopped = -3;
constexpr int kReasonSignal = -5;
constexpr int kStatusVectorLength = 20;

struct Client {
  Shutdown shutdown = nullptr;
  std::atomic<bool> down{false};
};

std::mutex g_mutex;

// By the address of fb_shutdown. Made at the first call, from which on the library that holds this
// code stays loaded; never destroyed, since it is read at exit. (Made as the library loads, it was
// lost with a plug-in unloaded before it ever loaded a client.)
std::map<void*, Client>& Clients() {
  static auto* const clients = new std::map<void*, Client>;
  return *clients;
}

int MarkDown(int, int, void* client) {
  static_cast<Client*>(client)->down = true;
  return 0;
}

// On SIGINT or SIGTERM a client shuts itself down from a thread of its own unless it is told not
// to: that thread then runs on while the process, which handles the signal itself and ends its
// work in order, exits and runs the client's exit work under it (a crash at exit, seen after an
// interrupted connection attempt). Any other shutdown goes ahead.
int RefuseShutdownOnSignal(int reason, int, void*) {
  return reason == kReasonSignal ? 1 : 0;
}

void ShutDownKnownClients() {
  const std::lock_guard lock(g_mutex);
  for (auto& [address, client] : Clients()) {
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
      auto [entry, added] = Clients().try_emplace(reinterpret_cast<void*>(shutdown));
      if (!added) {
        continue;
      }
      entry->second.shutdown = shutdown;
      // Told when it is shut down, by whoever shuts it down; never shut down by a signal.
      if (const auto register_callback =
              library->Function<RegisterShutdownCallback>("fb_shutdown_callback")) {
        intptr_t status[kStatusVectorLength] = {};
        register_callback(status, MarkDown, kShutdownFinished, &entry->second);
        register_callback(status, RefuseShutdownOnSignal, kShutdownConfirmation, nullptr);
      }
    }
  }
  RunAtExitBeforeLoadedLibraries(ShutDownKnownClients);
}

}  // namespace tolvan::platform
