// The tar header walk behind vesk::ReadTarArchive, on any source of bytes (a file, or memory in
// the tests and the fuzz target).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vesk/VeskPackBase5.h"

namespace vesk::detail {

inline constexpr std::size_t kTarBlock = 512;

// Reads up to `size` bytes at `offset` into `buffer` and returns how many it read; fewer only at
// the end of the source. Throws for a source that cannot be read.
using TarReadAt = std::function<std::size_t(std::uint64_t offset, char* buffer, std::size_t size)>;

// Thrown by WalkTarArchive with the reason alone ("o arquivo termina ..."); ReadTarArchive puts
// the file's name before it.
struct TarDamage {
  std::string reason;
};

// The members of an archive of `size` bytes read through `read`; TarDamage when it is not whole.
std::vector<TarMember> WalkTarArchive(std::uint64_t size, const TarReadAt& read);

}  // namespace vesk::detail
