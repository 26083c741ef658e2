// Reading the member headers of a tar archive, and telling a whole archive from a cut or damaged
// one by what the headers say.
//
// A header is one 512-byte block: the name (100 bytes), the size (12 bytes at 124, octal, or
// base-256 when its first byte has the high bit set), the checksum (8 bytes at 148, octal: the sum
// of the header's bytes with the checksum field read as blanks), the type flag (at 156), the
// magic (at 257; "ustar\0" for POSIX, whose prefix at 345 goes before the name). The member's
// data follow, padded to whole blocks; two zero blocks end the archive.
#include "tolvan/support/TarArchive.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "tolvan/support/Text.h"

namespace tolvan::support {
namespace detail {
namespace {

using Block = std::array<char, kTarBlock>;

constexpr std::size_t kNameAt = 0, kNameSize = 100;
constexpr std::size_t kSizeAt = 124, kSizeSize = 12;
constexpr std::size_t kChecksumAt = 148, kChecksumSize = 8;
constexpr std::size_t kTypeAt = 156;
constexpr std::size_t kMagicAt = 257;
constexpr std::size_t kPrefixAt = 345, kPrefixSize = 155;

std::string_view Field(const Block& block, std::size_t at, std::size_t size) {
  return {block.data() + at, size};
}

// The text of a NUL-terminated field that may fill its whole width.
std::string FieldText(const Block& block, std::size_t at, std::size_t size) {
  const std::string_view field = Field(block, at, size);
  return std::string(field.substr(0, std::min(field.find('\0'), field.size())));
}

bool IsZero(const char* data, std::size_t size) {
  return std::all_of(data, data + size, [](char c) { return c == '\0'; });
}

// An octal number: leading blanks, the digits, then a blank or NUL (or the field's end). No
// digits at all reads as 0, as the writers that leave a field empty mean it.
std::optional<std::uint64_t> Octal(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') {
    ++i;
  }
  std::uint64_t value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (value > (UINT64_MAX >> 3)) {
      return std::nullopt;
    }
    value = value * 8 + static_cast<std::uint64_t>(field[i] - '0');
  }
  for (; i < field.size(); ++i) {
    if (field[i] != ' ' && field[i] != '\0') {
      return std::nullopt;
    }
  }
  return value;
}

// The size field: octal, or base-256 (big-endian, the high bit of the first byte set) for a
// size the octal digits cannot hold. Negative or past 2^63 is not a size.
std::optional<std::uint64_t> Size(std::string_view field) {
  const auto first = static_cast<unsigned char>(field[0]);
  if ((first & 0x80) == 0) {
    return Octal(field);
  }
  if (first != 0x80) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (std::size_t i = 1; i < field.size(); ++i) {
    if (value > (UINT64_MAX >> 9)) {
      return std::nullopt;
    }
    value = (value << 8) | static_cast<unsigned char>(field[i]);
  }
  return value;
}

// Writers sum the bytes as unsigned; some old ones as signed. Either is a match.
bool ChecksumMatches(const Block& block) {
  const std::optional<std::uint64_t> recorded = Octal(Field(block, kChecksumAt, kChecksumSize));
  if (!recorded) {
    return false;
  }
  std::int64_t as_unsigned = 0;
  std::int64_t as_signed = 0;
  for (std::size_t i = 0; i < block.size(); ++i) {
    const char c = i >= kChecksumAt && i < kChecksumAt + kChecksumSize ? ' ' : block[i];
    as_unsigned += static_cast<unsigned char>(c);
    as_signed += static_cast<signed char>(c);
  }
  const auto value = static_cast<std::int64_t>(*recorded);
  return value == as_unsigned || value == as_signed;
}

// Links, devices, folders and fifos carry no data, whatever their size field says.
bool CarriesData(char type) {
  return type < '1' || type > '6';
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string At(std::uint64_t offset) {
  return " (byte " + std::to_string(offset) + ")";
}

void ReadBlock(const TarReadAt& read, std::uint64_t offset, Block& block) {
  if (read(offset, block.data(), block.size()) != block.size()) {
    // The caller made sure the block lies inside the source: a shorter read means the source
    // changed under the walk.
    throw TarDamage{"o arquivo ficou menor durante a leitura" + At(offset)};
  }
}

// After the end blocks a writer may pad to its record size; anything else there is damage.
void CheckZeroTail(std::uint64_t from, std::uint64_t size, const TarReadAt& read) {
  std::vector<char> chunk(64 * 1024);
  for (std::uint64_t offset = from; offset < size;) {
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - offset));
    const std::size_t got = read(offset, chunk.data(), want);
    if (got != want) {
      throw TarDamage{"o arquivo ficou menor durante a leitura" + At(offset)};
    }
    const auto* nonzero =
        std::find_if(chunk.data(), chunk.data() + got, [](char c) { return c != '\0'; });
    if (nonzero != chunk.data() + got) {
      throw TarDamage{"há dados depois dos blocos vazios que encerram o arquivo" +
                      At(offset + static_cast<std::uint64_t>(nonzero - chunk.data()))};
    }
    offset += got;
  }
}

}  // namespace

std::vector<TarMember> WalkTarArchive(std::uint64_t size, const TarReadAt& read) {
  if (size == 0) {
    throw TarDamage{"o arquivo está vazio"};
  }
  std::vector<TarMember> members;
  Block block{};
  for (std::uint64_t offset = 0;;) {
    if (offset >= size) {
      throw TarDamage{"o arquivo termina sem os dois blocos vazios que encerram um arquivo tar" +
                      At(size)};
    }
    if (size - offset < kTarBlock) {
      throw TarDamage{"o arquivo termina no meio de um cabeçalho" + At(offset)};
    }
    ReadBlock(read, offset, block);
    if (IsZero(block.data(), block.size())) {
      if (size - offset < 2 * kTarBlock) {
        throw TarDamage{"o arquivo termina depois de um só dos dois blocos vazios que o encerram" +
                        At(offset)};
      }
      ReadBlock(read, offset + kTarBlock, block);
      if (!IsZero(block.data(), block.size())) {
        throw TarDamage{"há um bloco vazio isolado no meio do arquivo" + At(offset)};
      }
      CheckZeroTail(offset + 2 * kTarBlock, size, read);
      return members;
    }
    if (!ChecksumMatches(block)) {
      throw TarDamage{"o cabeçalho não confere com a sua soma de verificação" + At(offset)};
    }
    TarMember member;
    member.Name = FieldText(block, kNameAt, kNameSize);
    if (Field(block, kMagicAt, 6) == std::string_view("ustar\0", 6)) {
      const std::string prefix = FieldText(block, kPrefixAt, kPrefixSize);
      if (!prefix.empty()) {
        member.Name = prefix + "/" + member.Name;
      }
    }
    member.Type = block[kTypeAt];
    const std::optional<std::uint64_t> recorded = Size(Field(block, kSizeAt, kSizeSize));
    if (!recorded) {
      throw TarDamage{"o tamanho do membro " + Quoted(member.Name) + " não é um número válido" +
                      At(offset)};
    }
    member.Size = CarriesData(member.Type) ? *recorded : 0;
    member.DataOffset = offset + kTarBlock;
    if (member.Size > size - member.DataOffset) {
      throw TarDamage{"o membro " + Quoted(member.Name) + " deveria ter " +
                      std::to_string(member.Size) + " bytes, mas só " +
                      std::to_string(size - member.DataOffset) + " estão no arquivo" +
                      At(member.DataOffset)};
    }
    const std::uint64_t padded = (member.Size + kTarBlock - 1) / kTarBlock * kTarBlock;
    offset = member.DataOffset + padded;
    members.push_back(std::move(member));
  }
}

}  // namespace detail

std::vector<TarMember> ReadTarArchive(const std::string& Path) {
  const std::filesystem::path path = Utf8Path(Path);
  const std::string cannot_read = "Não foi possível ler o arquivo " + detail::Quoted(Path);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int error = errno != 0 ? errno : EIO;
    throw std::system_error(error, std::generic_category(), cannot_read);
  }
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    throw std::system_error(error, cannot_read);
  }
  const detail::TarReadAt read = [&](std::uint64_t offset, char* buffer, std::size_t count) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(buffer, static_cast<std::streamsize>(count));
    if (in.bad()) {
      throw std::system_error(std::make_error_code(std::errc::io_error), cannot_read);
    }
    return static_cast<std::size_t>(in.gcount());
  };
  try {
    return detail::WalkTarArchive(size, read);
  } catch (const detail::TarDamage& damage) {
    throw ETarArchiveDamaged("O arquivo " + detail::Quoted(Path) +
                             " está cortado ou danificado: " + damage.reason + ".");
  }
}

}  // namespace tolvan::support
