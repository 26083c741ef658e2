// The process's own TCP connections, as the connection limit finds and ends them.
#pragma once

#include <cstdint>
#include <set>

namespace tolvan::platform::internal {

// What tells one open socket of the process from another for as long as it is open.
std::set<uint64_t> OpenSockets();

// Shuts down, for reading and writing, every TCP socket of the process that is not among known,
// so that whoever waits on it sees the connection end; the descriptors stay open for their owner
// to close.
void ShutDownSocketsExcept(const std::set<uint64_t>& known);

}  // namespace tolvan::platform::internal
