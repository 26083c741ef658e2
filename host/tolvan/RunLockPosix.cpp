#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "RunLock.h"

namespace tolvan::cli {

std::unique_ptr<RunLock> RunLock::TryTake(const std::string& path) {
  const std::string lock_path = LockPath(path);
  for (;;) {
    // Readable by all, so that a run of another user (a root cron job, the operator) can take it
    // in turn: an flock needs no write right.
    const int fd = ::open(lock_path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      throw std::system_error(errno, std::generic_category(),
                              "não foi possível criar a trava " + lock_path);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) {
        return nullptr;
      }
      throw std::system_error(error, std::generic_category(),
                              "não foi possível travar " + lock_path);
    }
    // The run before may have removed the file between our open and our lock: then the lock is
    // on a name nobody sees, and the file at the name is taken again.
    struct stat own {};
    struct stat named {};
    if (::fstat(fd, &own) == 0 && ::lstat(lock_path.c_str(), &named) == 0 &&
        own.st_dev == named.st_dev && own.st_ino == named.st_ino) {
      return std::unique_ptr<RunLock>(new RunLock(lock_path, fd));
    }
    ::close(fd);
  }
}

RunLock::~RunLock() {
  // Removed while still held, so that a run waiting on this file sees it gone and takes a new one.
  ::unlink(lock_path_.c_str());
  ::close(static_cast<int>(handle_));
}

}  // namespace tolvan::cli
