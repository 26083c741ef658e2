#include <cstdio>
#include <string>

namespace tolvan::platform::internal {

void ShowSystemMessageBox(const std::string& text, void* /*owner*/) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace tolvan::platform::internal
