#include "common/FileCalls.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace tolvan::platform {
namespace {

std::mutex g_mutex;
int g_recorders = 0;
std::vector<std::string> g_calls;

}  // namespace

namespace internal {

void NoteFileCall(const char* call, const std::string& path) {
  std::lock_guard lock(g_mutex);
  if (g_recorders > 0) {
    g_calls.push_back(std::string(call) + " " + path);
  }
}

}  // namespace internal

ScopedFileCallRecorder::ScopedFileCallRecorder() {
  std::lock_guard lock(g_mutex);
  if (g_recorders++ == 0) {
    g_calls.clear();
  }
}

ScopedFileCallRecorder::~ScopedFileCallRecorder() {
  std::lock_guard lock(g_mutex);
  --g_recorders;
}

std::vector<std::string> ScopedFileCallRecorder::Calls() const {
  std::lock_guard lock(g_mutex);
  return g_calls;
}

}  // namespace tolvan::platform
