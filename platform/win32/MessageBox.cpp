#include <string>

#include "platform/Paths.h"
#include "win32/Win32.h"

namespace tolvan::platform::internal {

void ShowSystemMessageBox(const std::string& text) {
  // The caption is the program's name, as the host's own boxes show it.
  std::string caption = RealExecutablePath();
  caption = caption.substr(caption.find_last_of("\\/") + 1);
  if (caption.size() > 4 && caption.compare(caption.size() - 4, 4, ".exe") == 0) {
    caption.resize(caption.size() - 4);
  }
  ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), MB_OK);
}

}  // namespace tolvan::platform::internal
