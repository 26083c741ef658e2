#include "platform/MessageBox.h"

#include <mutex>

namespace tolvan::platform {

namespace internal {
// The operating system's own box, used when no sink is set.
void ShowSystemMessageBox(const std::string& text);
}  // namespace internal

namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

MessageBoxSink& Sink() {
  static MessageBoxSink sink;
  return sink;
}

}  // namespace

void ShowPlainMessageBox(const std::string& text) {
  MessageBoxSink sink;
  {
    std::lock_guard lock(SinkMutex());
    sink = Sink();
  }
  // Called outside the lock: a sink may show a box of its own.
  if (sink) {
    sink(text);
  } else {
    internal::ShowSystemMessageBox(text);
  }
}

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
  std::lock_guard lock(SinkMutex());
  MessageBoxSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

}  // namespace tolvan::platform
