#include <signal.h>

#include <cerrno>
#include <iterator>
#include <memory>
#include <system_error>

#include "platform/Interrupt.h"

namespace tolvan::platform {
namespace {

// A hung-up terminal (a closed SSH session) counts as a request to end, as SIGTERM does.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RecordInterrupt(int signal_number) {
  RequestInterrupt(signal_number);
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

struct KeepInterruptHandlers::Saved {
  struct sigaction actions[std::size(kInterruptSignals)]{};
  bool read[std::size(kInterruptSignals)]{};
};

KeepInterruptHandlers::KeepInterruptHandlers() : saved_(std::make_unique<Saved>()) {
  for (std::size_t i = 0; i < std::size(kInterruptSignals); ++i) {
    saved_->read[i] = ::sigaction(kInterruptSignals[i], nullptr, &saved_->actions[i]) == 0;
  }
}

KeepInterruptHandlers::~KeepInterruptHandlers() {
  for (std::size_t i = 0; i < std::size(kInterruptSignals); ++i) {
    if (saved_->read[i]) {
      ::sigaction(kInterruptSignals[i], &saved_->actions[i], nullptr);
    }
  }
}

}  // namespace tolvan::platform
