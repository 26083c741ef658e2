#include <string>

#include "platform/Paths.h"
#include "win32/Win32.h"

namespace tolvan::platform::internal {

void ShowSystemMessageBox(const std::string& text, void* owner) {
  // The caption is the program's name, as the host's own boxes show it.
  std::string caption = RealExecutablePath();
  caption = caption.substr(caption.find_last_of("\\/") + 1);
  if (caption.size() > 4 && caption.compare(caption.size() - 4, 4, ".exe") == 0) {
    caption.resize(caption.size() - 4);
  }
  // Task-modal: without an owner the host's windows would stay enabled, so the operator could
  // start another export while this one waits, and the box could open behind them.
  HWND window = static_cast<HWND>(owner);
  if (window != nullptr && !::IsWindow(window)) {
    window = nullptr;
  }
  ::MessageBoxW(window, Widen(text).c_str(), Widen(caption).c_str(),
                MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

}  // namespace tolvan::platform::internal
