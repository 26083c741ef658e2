#include "platform/MessageBox.h"

#include <mutex>

namespace tolvan::platform {

namespace internal {
// The operating system's own box, used when no sink is set.
void ShowSystemMessageBox(const std::string& text, void* owner);
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

void*& Owner() {
  static void* owner = nullptr;
  return owner;
}

}  // namespace

void ShowPlainMessageBox(const std::string& text) {
  MessageBoxSink sink;
  void* owner;
  {
    std::lock_guard lock(SinkMutex());
    sink = Sink();
    owner = Owner();
  }
  // Called outside the lock: a sink may show a box of its own.
  if (sink) {
    sink(text);
  } else {
    internal::ShowSystemMessageBox(text, owner);
  }
}

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
  std::lock_guard lock(SinkMutex());
  MessageBoxSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

void* SetMessageBoxOwner(void* window) {
  std::lock_guard lock(SinkMutex());
  void* previous = Owner();
  Owner() = window;
  return previous;
}

}  // namespace tolvan::platform
