// Reading the member headers of a tar archive (pg_dump's tar format), telling a whole archive
// from one that is cut or damaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvan::support {

// One member of a tar archive, as its header gives it.
struct TarMember {
  // The header's name (with its ustar prefix and a "/" before it, when there is one).
  std::string Name;
  // The header's type flag: '0' (or '\0') for a regular file.
  char Type = '0';
  // Bytes of data the member holds.
  std::uint64_t Size = 0;
  // Where its data begin in the file (just after its header).
  std::uint64_t DataOffset = 0;
};

// A tar archive that is cut or damaged. The message is the operator's (Portuguese): the file,
// and what was found where.
class ETarArchiveDamaged : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The members of the tar archive at Path (UTF-8), in the order they stand. Only the headers are
// read. The archive is whole when every header matches its checksum, every member's data lie
// inside the file, and the archive ends with its two zero blocks, after which only zero bytes
// follow; otherwise ETarArchiveDamaged, an empty file included. A size past the octal field
// (base-256, as writers use for members over 8 GiB) is read too. Throws std::system_error when
// the file cannot be opened or read.
std::vector<TarMember> ReadTarArchive(const std::string& Path);

namespace detail {

inline constexpr std::size_t kTarBlock = 512;

// Reads up to `size` bytes at `offset` into `buffer` and returns how many it read; fewer only at
// the end of the source. Throws for a source that cannot be read.
using TarReadAt = std::function<std::size_t(std::uint64_t offset, char* buffer, std::size_t size)>;

// Thrown by WalkTarArchive with the reason alone ("o arquivo termina ..."); ReadTarArchive puts
// the file's name before it.
struct TarDamage {
  std::string reason;
};

// The members of an archive of `size` bytes read through `read` (a file, or memory in the tests
// and the fuzz target); TarDamage when it is not whole.
std::vector<TarMember> WalkTarArchive(std::uint64_t size, const TarReadAt& read);

}  // namespace detail
}  // namespace tolvan::support
