// libFuzzer target: the tar header walk on any bytes. It must never read outside the archive;
// what it accepts is consistent (members in order, their data inside the file, on block
// boundaries); and no shorter piece of an archive it accepts passes as whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "tolvan/support/TarArchive.h"

namespace {

std::vector<tolvan::support::TarMember> Walk(std::string_view bytes) {
  return tolvan::support::detail::WalkTarArchive(
      bytes.size(), [bytes](std::uint64_t offset, char* buffer, std::size_t size) {
        if (offset >= bytes.size()) {
          return std::size_t{0};
        }
        const std::size_t count = std::min<std::size_t>(size, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, count);
        return count;
      });
}

bool Whole(std::string_view bytes) {
  try {
    Walk(bytes);
    return true;
  } catch (const tolvan::support::detail::TarDamage&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<tolvan::support::TarMember> members;
  try {
    members = Walk(bytes);
  } catch (const tolvan::support::detail::TarDamage&) {
    return 0;
  }
  constexpr std::size_t kBlock = tolvan::support::detail::kTarBlock;
  std::uint64_t next = 0;
  for (const tolvan::support::TarMember& member : members) {
    if (member.DataOffset < next + kBlock || member.DataOffset % kBlock != 0 ||
        member.DataOffset > size || member.Size > size - member.DataOffset) {
      __builtin_trap();
    }
    next = member.DataOffset + (member.Size + kBlock - 1) / kBlock * kBlock;
  }
  // The two end blocks follow the last member's data; zeros may pad the file after them.
  const std::uint64_t end = next + 2 * kBlock;
  if (end > size || Whole(bytes.substr(0, end - 1)) || Whole(bytes.substr(0, end / 2))) {
    __builtin_trap();
  }
  return 0;
}
