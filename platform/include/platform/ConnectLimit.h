// A connection attempt that a database client library makes inside one blocking call, bounded from
// outside: the operator's interrupt and a time limit end its waits on a server that accepted the
// connection and never answers, which the library itself would wait out for minutes.
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Export.h"

namespace tolvan::platform {

// How long a connection attempt may wait for its server when the connection does not say.
inline constexpr std::chrono::seconds kDefaultConnectTimeout{30};

// The connection parameter that says it, in whole seconds. No client library's parameter block
// knows this name, so it passes unseen through the blocks built from a parameter list.
inline constexpr std::string_view kConnectTimeoutParameter = "ConnectTimeout";

// The limit a value of that parameter gives: whole seconds from 1 to 86400; the default for an
// empty value or any other text.
TOLVAN_PLATFORM_API std::chrono::seconds ConnectTimeoutFrom(std::string_view value);

// The limit to give the client library itself, for where its waits cannot be ended from outside:
// a second past the watch's, so that where they can, the watch ends them first and says why.
inline std::chrono::seconds LibraryConnectTimeout(std::chrono::seconds limit) {
  return limit + std::chrono::seconds(1);
}

// A connection attempt ended by the limit or by an interrupt; the message names the server.
class TOLVAN_PLATFORM_API EConnectCut : public std::runtime_error {
 public:
  EConnectCut(const std::string& message, bool interrupted);
  ~EConnectCut() override;
  bool interrupted() const { return interrupted_; }

 private:
  bool interrupted_;
};

// Runs call, a client library's blocking connection attempt to server (named as the operator
// knows it: "srv/3050", "127.0.0.1 porta 5432"), on this thread. Meanwhile a watcher looks ten
// times a second for an interrupt (InterruptSignal) and for the end of the limit; at either it
// shuts down the TCP connections that the process opened since the call began, and those it opens
// after, so that the library's waits end at once with a network failure. The call is then taken
// as ended by the watcher, whatever it did: EConnectCut is raised, and a caller whose call got a
// connection nonetheless releases it. Otherwise the call's own result or failure goes through.
// Where the connections of a library cannot be found (Windows), nothing is shut down: the call
// runs until the library gives up by itself (LibraryConnectTimeout), and the interrupt or the limit
// that came meanwhile is raised then.
TOLVAN_PLATFORM_API void ConnectWithinLimit(const std::string& server, std::chrono::seconds limit,
                                            const std::function<void()>& call);

}  // namespace tolvan::platform
