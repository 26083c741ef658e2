// The Firebird client libraries of a process at its exit. The same client loaded twice (under two
// names, as fbclient and as the data-access components' ibclient64 copy, or from two folders)
// shares the plugins the copies load from one folder, Firebird 4's wire encryption among them; at
// exit the copy that shuts itself down last then crashes in its own shutdown. Shut down together
// before either runs its own exit work, neither does.
#pragma once

#include "platform/Export.h"

namespace tolvan::platform {

// Arranges that at the process's exit, before the exit work of every library loaded until now,
// each Firebird client library then loaded in the process is shut down, once: one that was shut
// down already (by its owner, or by this arrangement made from another copy of this code) is
// left alone, since a second shutdown crashes it. A signal never shuts one down: the process
// handles SIGINT and SIGTERM itself. Call it after each load of a client library.
TOLVAN_PLATFORM_API void ShutDownFirebirdClientsAtExit();

}  // namespace tolvan::platform
