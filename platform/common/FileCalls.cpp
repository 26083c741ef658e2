#include "common/FileCalls.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace tolvan::platform {
namespace {

std::mutex g_mutex;
int g_recorders = 0;

// Made at its first use: a plug-in that carries this code runs none of it when it is loaded.
std::vector<std::string>& RecordedCalls() {
  static std::vector<std::string> calls;
  return calls;
}

}  // namespace

namespace internal {

void NoteFileCall(const char* call, const std::string& path) {
  std::lock_guard lock(g_mutex);
  if (g_recorders > 0) {
    RecordedCalls().push_back(std::string(call) + " " + path);
  }
}

}  // namespace internal

ScopedFileCallRecorder::ScopedFileCallRecorder() {
  std::lock_guard lock(g_mutex);
  if (g_recorders++ == 0) {
    RecordedCalls().clear();
  }
}

ScopedFileCallRecorder::~ScopedFileCallRecorder() {
  std::lock_guard lock(g_mutex);
  --g_recorders;
}

std::vector<std::string> ScopedFileCallRecorder::Calls() const {
  std::lock_guard lock(g_mutex);
  return RecordedCalls();
}

}  // namespace tolvan::platform
