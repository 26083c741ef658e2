#include <signal.h>

#include <cerrno>
#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>

#include "common/InterruptRecord.h"
#include "platform/Interrupt.h"

namespace tolvan::platform {
namespace {

// A hung-up terminal (a closed SSH session) counts as a request to end, as SIGTERM does.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kSignalCount = std::size(kInterruptSignals);

extern "C" void RecordInterrupt(int signal_number) {
  RequestInterrupt(signal_number);
}

// What a recorder found in place for each signal, read by its handler. Written only while that
// handler is not installed.
struct sigaction g_passed_on[kSignalCount];
std::mutex g_recorder_mutex;
int g_recorders = 0;

bool IsOwnHandler(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == RecordInterrupt;
}

bool IsIgnored(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

extern "C" void RecordAndPassOn(int signal_number, siginfo_t* info, void* context) {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (kInterruptSignals[i] != signal_number) {
      continue;
    }
    internal::RecordFromRecorder(signal_number);
    const struct sigaction& previous = g_passed_on[i];
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
      previous.sa_sigaction(signal_number, info, context);
    } else if (previous.sa_handler == SIG_DFL) {
      // The default action ends the program: it is the program's choice, and it stays. The
      // signal, blocked while this handler runs, arrives again once it returns.
      ::sigaction(signal_number, &previous, nullptr);
      ::raise(signal_number);
    } else if (previous.sa_handler != SIG_IGN) {
      previous.sa_handler(signal_number);
    }
  }
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = RecordInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking read returns with EINTR, so the reader sees the request at once.
  action.sa_flags = 0;
  for (const int signal_number : kInterruptSignals) {
    if (::sigaction(signal_number, &action, nullptr) != 0) {
      throw std::system_error(errno, std::generic_category(),
                              "não foi possível instalar o tratamento de sinais (sigaction)");
    }
  }
}

struct ScopedInterruptRecorder::Saved {
  int record_before = 0;
  bool installed[kSignalCount]{};
  bool handed_to_own = false;
};

ScopedInterruptRecorder::ScopedInterruptRecorder() : saved_(std::make_unique<Saved>()) {
  std::lock_guard lock(g_recorder_mutex);
  saved_->record_before = InterruptSignal();
  // A recorder inside another one has nothing more to do.
  if (g_recorders++ != 0) {
    return;
  }
  struct sigaction ours {};
  ours.sa_sigaction = RecordAndPassOn;
  sigemptyset(&ours.sa_mask);
  ours.sa_flags = SA_SIGINFO;
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction previous {};
    if (::sigaction(kInterruptSignals[i], nullptr, &previous) != 0 || IsIgnored(previous)) {
      continue;
    }
    g_passed_on[i] = previous;
    saved_->handed_to_own = saved_->handed_to_own || IsOwnHandler(previous);
    saved_->installed[i] = ::sigaction(kInterruptSignals[i], &ours, nullptr) == 0;
  }
}

ScopedInterruptRecorder::~ScopedInterruptRecorder() {
  std::lock_guard lock(g_recorder_mutex);
  if (--g_recorders != 0) {
    return;
  }
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (saved_->installed[i]) {
      ::sigaction(kInterruptSignals[i], &g_passed_on[i], nullptr);
    }
  }
  internal::EndRecorderScope(saved_->record_before, saved_->handed_to_own);
}

struct KeepInterruptHandlers::Saved {
  struct sigaction actions[kSignalCount] {};
  bool read[kSignalCount]{};
};

KeepInterruptHandlers::KeepInterruptHandlers() : saved_(std::make_unique<Saved>()) {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    saved_->read[i] = ::sigaction(kInterruptSignals[i], nullptr, &saved_->actions[i]) == 0;
  }
}

KeepInterruptHandlers::~KeepInterruptHandlers() {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (saved_->read[i]) {
      ::sigaction(kInterruptSignals[i], &saved_->actions[i], nullptr);
    }
  }
}

}  // namespace tolvan::platform
