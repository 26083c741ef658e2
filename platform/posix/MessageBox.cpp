#include <dlfcn.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/MessageBox.h"

// POSIX has no message box of the system's: the box is the one the program's host shows, through
// the sink it set on its own copy of this library. The host's copy offers it to the copies inside
// the plug-ins under this C name, which they find through the loader, as a Windows program finds
// MessageBoxW; a plug-in loaded where there is none writes to stderr.
extern "C" {
using TolvanPlatformMessageBoxFn = void (*)(const char* text, std::size_t size);
#if !defined(TOLVAN_PLATFORM_PRIVATE_COPY)
__attribute__((visibility("default"))) void tolvan_platform_show_message_box(const char* text,
                                                                             std::size_t size) {
  tolvan::platform::ShowPlainMessageBox(std::string(text, size));
}
#endif
}

namespace tolvan::platform::internal {

void ShowSystemMessageBox(const std::string& text, void* /*owner*/) {
#if defined(TOLVAN_PLATFORM_PRIVATE_COPY)
  if (const auto host = reinterpret_cast<TolvanPlatformMessageBoxFn>(
          ::dlsym(RTLD_DEFAULT, "tolvan_platform_show_message_box"))) {
    host(text.data(), text.size());
    return;
  }
#endif
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace tolvan::platform::internal
