#include <signal.h>

#include <cerrno>
#include <system_error>

#include "platform/Interrupt.h"

namespace tolvan::platform {
namespace {

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
  for (const int signal_number : {SIGINT, SIGTERM}) {
    if (::sigaction(signal_number, &action, nullptr) != 0) {
      throw std::system_error(errno, std::generic_category(),
                              "não foi possível instalar o tratamento de sinais (sigaction)");
    }
  }
}

}  // namespace tolvan::platform
