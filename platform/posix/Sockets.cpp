#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>

#include "common/Sockets.h"

namespace tolvan::platform::internal {
namespace {

// Calls visit with each open socket descriptor of the process and its inode, which no other open
// socket shares (a descriptor number may be closed and given to another socket meanwhile).
void ForEachSocket(const std::function<void(int, uint64_t)>& visit) {
  DIR* folder = ::opendir("/proc/self/fd");
  if (folder == nullptr) {
    return;
  }
  const int own = ::dirfd(folder);
  while (const dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
      continue;
    }
    const int fd = std::atoi(entry->d_name);
    struct stat status {};
    if (fd != own && ::fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode)) {
      visit(fd, static_cast<uint64_t>(status.st_ino));
    }
  }
  ::closedir(folder);
}

// A TCP socket that connects or is connected to a server; not one that listens.
bool IsTcpConnection(int fd) {
  int type = 0;
  int listening = 0;
  socklen_t length = sizeof type;
  sockaddr_storage address{};
  socklen_t address_length = sizeof address;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
    return false;
  }
  length = sizeof listening;
  if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || listening != 0) {
    return false;
  }
  return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &address_length) == 0 &&
         (address.ss_family == AF_INET || address.ss_family == AF_INET6);
}

}  // namespace

std::set<uint64_t> OpenSockets() {
  std::set<uint64_t> sockets;
  ForEachSocket([&sockets](int, uint64_t id) { sockets.insert(id); });
  return sockets;
}

void ShutDownSocketsExcept(const std::set<uint64_t>& known) {
  ForEachSocket([&known](int fd, uint64_t id) {
    if (known.count(id) == 0 && IsTcpConnection(fd)) {
      ::shutdown(fd, SHUT_RDWR);
    }
  });
}

}  // namespace tolvan::platform::internal
