// One run at a time per backup name: a lock file beside the name ("<name>.~trava") that a run
// holds while it writes and removes at its end. The system lets go of it when the process ends,
// however it ends, so a killed run never keeps the next one waiting.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tolvan::cli {

class RunLock {
 public:
  // The lock of path, or nothing when another process holds it.
  static std::unique_ptr<RunLock> TryTake(const std::string& path);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  static std::string LockPath(const std::string& path) { return path + ".~trava"; }

 private:
  RunLock(std::string lock_path, std::intptr_t handle)
      : lock_path_(std::move(lock_path)), handle_(handle) {}
  std::string lock_path_;
  std::intptr_t handle_;
};

}  // namespace tolvan::cli
