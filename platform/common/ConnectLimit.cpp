#include "platform/ConnectLimit.h"

#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <set>
#include <thread>

#include "common/Sockets.h"
#include "platform/Interrupt.h"

namespace tolvan::platform {
namespace {

constexpr auto kWatchInterval = std::chrono::milliseconds(100);
constexpr int64_t kMaxConnectTimeout = 86400;

// Watches one call from a thread of its own, from construction to Stop.
class Watcher {
 public:
  enum class Cut { None, Interrupted, TimedOut };

  explicit Watcher(std::chrono::seconds limit)
      : known_(internal::OpenSockets()),
        interrupts_(InterruptCount()),
        deadline_(std::chrono::steady_clock::now() + limit),
        thread_([this] { Watch(); }) {}
  ~Watcher() { Stop(); }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  void Stop() {
    {
      const std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    woken_.notify_all();
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  // What ended the call; read after Stop. An interrupt or the limit that came while the call ran
  // on counts too.
  Cut cut() const { return cut_ != Cut::None ? cut_ : Now(); }

 private:
  // An interrupt recorded before the call began (the one whose clean-up this call may be) does not
  // end it; a later one does.
  Cut Now() const {
    if (InterruptCount() > interrupts_) {
      return Cut::Interrupted;
    }
    return std::chrono::steady_clock::now() >= deadline_ ? Cut::TimedOut : Cut::None;
  }

  void Watch() {
    std::unique_lock lock(mutex_);
    while (!woken_.wait_for(lock, kWatchInterval, [this] { return stopped_; })) {
      const Cut now = Now();
      if (now == Cut::None) {
        continue;
      }
      if (cut_ == Cut::None) {
        cut_ = now;
      }
      // Again at every turn: a library that sees one connection end may try another address.
      lock.unlock();
      internal::ShutDownSocketsExcept(known_);
      lock.lock();
    }
  }

  const std::set<uint64_t> known_;
  const unsigned interrupts_;
  const std::chrono::steady_clock::time_point deadline_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool stopped_ = false;
  Cut cut_ = Cut::None;
  std::thread thread_;
};

}  // namespace

std::chrono::seconds ConnectTimeoutFrom(std::string_view value) {
  int64_t seconds = 0;
  const char* end = value.data() + value.size();
  const auto [at, error] = std::from_chars(value.data(), end, seconds);
  if (value.empty() || error != std::errc() || at != end || seconds < 1 ||
      seconds > kMaxConnectTimeout) {
    return kDefaultConnectTimeout;
  }
  return std::chrono::seconds(seconds);
}

EConnectCut::EConnectCut(const std::string& message, bool interrupted)
    : std::runtime_error(message), interrupted_(interrupted) {}

EConnectCut::~EConnectCut() = default;

void ConnectWithinLimit(const std::string& server, std::chrono::seconds limit,
                        const std::function<void()>& call) {
  Watcher watcher(limit);
  std::exception_ptr failure;
  try {
    call();
  } catch (...) {
    failure = std::current_exception();
  }
  watcher.Stop();
  const Watcher::Cut cut = watcher.cut();
  if (cut == Watcher::Cut::Interrupted) {
    throw EConnectCut("A conexão com o servidor " + server + " foi interrompida.", true);
  }
  if (cut == Watcher::Cut::TimedOut) {
    throw EConnectCut(
        "O servidor " + server + " não respondeu em " + std::to_string(limit.count()) +
            " s. Confira se ele está no ar e se o nome e a porta estão certos; se ele só está "
            "lento, aumente o tempo de espera da conexão (parâmetro ConnectTimeout, em "
            "segundos).",
        false);
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

}  // namespace tolvan::platform
