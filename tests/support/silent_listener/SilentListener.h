// A server that accepts connections and never answers, for tests of what waits on one: it listens
// on loopback and never accepts, so the kernel completes each connection and nothing ever speaks.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tolvan::testing {

class SilentListener {
 public:
  SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 64) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(fd_);
      throw std::runtime_error("no loopback listener");
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { ::close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  uint16_t port() const { return port_; }
  std::string port_text() const { return std::to_string(port_); }

  // True once a connection waits in the listener's queue.
  bool WaitForConnection(std::chrono::milliseconds within) const {
    pollfd fd{fd_, POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(within.count())) == 1;
  }

 private:
  int fd_;
  uint16_t port_ = 0;
};

}  // namespace tolvan::testing
