// File versions and the kept copies of other versions of a file.
//
// A kept copy lies beside the file it stands in for, named after it with the version inserted
// before the first dot of the name: gbak -> gbak_3.0.11.33637, gbak.exe -> gbak_3.0.11.33637.exe,
// libfbclient.so.2 -> libfbclient_3.0.11.33637.so.2, firebird.msg -> firebird_3.0.11.33637.msg.
// A copy approximates a wanted version when their versions share at least major and minor; the
// longest shared dotted prefix wins, and among equals the highest version.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Utf8Path.h"
#include "platform/FileVersion.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"

namespace fs = std::filesystem;

namespace vesk::detail {
namespace {

bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char Lower(char c) {
  return IsUpper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// Length of the dotted number ("3.0.11.33637") at the start of text, or 0 when it has fewer than
// min_parts numbers.
std::size_t DottedLength(std::string_view text, int min_parts) {
  std::size_t i = 0;
  std::size_t end = 0;
  int parts = 0;
  for (;;) {
    const std::size_t start = i;
    while (i < text.size() && IsDigit(text[i])) {
      ++i;
    }
    if (i == start) {
      break;
    }
    ++parts;
    end = i;
    if (i >= text.size() || text[i] != '.') {
      break;
    }
    ++i;
  }
  return parts >= min_parts ? end : 0;
}

std::string ToText(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool IsDelimiter(char c) {
  return c == '/' || c == tolvan::platform::kPathDelimiter;
}

struct SplitPath {
  std::string folder;  // with its delimiter, or empty
  std::string stem;    // the name up to its first dot
  std::string ext;     // the rest of the name, from the first dot
};

SplitPath Split(const std::string& file) {
  std::size_t slash = file.size();
  while (slash > 0 && !IsDelimiter(file[slash - 1])) {
    --slash;
  }
  const std::string name = file.substr(slash);
  const std::size_t dot = name.find('.');
  return {file.substr(0, slash), name.substr(0, dot),
          dot == std::string::npos ? std::string() : name.substr(dot)};
}

// The version a kept copy's name carries, or nothing when the name is not one of the file's.
std::optional<std::string> VersionInName(const std::string& name, const SplitPath& file) {
  const std::size_t fixed = file.stem.size() + 1 + file.ext.size();
  if (name.size() <= fixed ||
      !SameIgnoringCase(std::string_view(name).substr(0, file.stem.size()), file.stem) ||
      name[file.stem.size()] != '_' ||
      !SameIgnoringCase(std::string_view(name).substr(name.size() - file.ext.size()), file.ext)) {
    return std::nullopt;
  }
  const std::string version = name.substr(file.stem.size() + 1, name.size() - fixed);
  if (DottedLength(version, 1) != version.size()) {
    return std::nullopt;
  }
  return version;
}

// Numbers without their leading zeros, so that they compare as text of the same length.
std::vector<std::string> Parts(std::string_view version) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= version.size()) {
    std::size_t end = version.find('.', start);
    if (end == std::string_view::npos) {
      end = version.size();
    }
    std::string_view part = version.substr(start, end - start);
    while (part.size() > 1 && part.front() == '0') {
      part.remove_prefix(1);
    }
    parts.emplace_back(part);
    start = end + 1;
  }
  return parts;
}

bool PartLess(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::error_code error;
  const auto size_a = fs::file_size(a, error);
  if (error) {
    return false;
  }
  const auto size_b = fs::file_size(b, error);
  if (error || size_a != size_b) {
    return false;
  }
  std::ifstream in_a(a, std::ios::binary);
  std::ifstream in_b(b, std::ios::binary);
  if (!in_a || !in_b) {
    return false;
  }
  std::vector<char> buffer_a(64 * 1024);
  std::vector<char> buffer_b(buffer_a.size());
  while (in_a && in_b) {
    in_a.read(buffer_a.data(), static_cast<std::streamsize>(buffer_a.size()));
    in_b.read(buffer_b.data(), static_cast<std::streamsize>(buffer_b.size()));
    if (in_a.gcount() != in_b.gcount() ||
        std::memcmp(buffer_a.data(), buffer_b.data(), static_cast<std::size_t>(in_a.gcount())) !=
            0) {
      return false;
    }
  }
  return in_a.eof() && in_b.eof();
}

[[noreturn]] void Fail(std::errc code, const std::string& what) {
  throw std::system_error(std::make_error_code(code), "RenomearArqVerAproximada: " + what);
}

// Names of this process's own staging files, apart from another run's at the same moment.
std::string UniqueSuffix() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::lock_guard lock(mutex);
  return std::to_string(generator() % 1000000000);
}

std::string Counter(int n) {
  std::string counter = "~";
  counter += std::to_string(n);
  return counter;
}

// Where the replaced file goes: its kept-copy name, or, when a different file holds that name
// already, the same with "~2", "~3", ... before the extension (such names are never picked as
// approximations, but nothing is lost). Empty when an identical copy is there already.
std::optional<fs::path> KeepName(const fs::path& file, const SplitPath& split) {
  std::string version = GetVersao(ToText(file), false);
  if (version.empty()) {
    version = "sem-versao";
  }
  for (int n = 1;; ++n) {
    const std::string name =
        split.stem + "_" + version + (n == 1 ? std::string() : Counter(n)) + split.ext;
    const fs::path candidate = Utf8Path(split.folder + name);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(candidate, error))) {
      return candidate;
    }
    if (SameContent(file, candidate)) {
      return std::nullopt;
    }
  }
}

// What a scan of bytes found: the first build tag, and the one that names the product's own
// version (see below), which wins.
struct BuildTags {
  std::string first;
  std::string product;
};

// Looks at the tags whose dash lies before starts_end; the bytes after it only complete them.
void FindBuildTags(std::string_view bytes, std::size_t starts_end, BuildTags& found) {
  for (std::size_t dash = bytes.find('-', 2); dash < starts_end; dash = bytes.find('-', dash + 1)) {
    // XX-Y followed by four dotted numbers: LI-V3.0.11.33637, WI-V..., LI-T...
    if (dash + 2 >= bytes.size() || !IsUpper(bytes[dash - 2]) || !IsUpper(bytes[dash - 1]) ||
        !IsUpper(bytes[dash + 1])) {
      continue;
    }
    const std::string_view rest = bytes.substr(dash + 2);
    const std::size_t length = DottedLength(rest, 4);
    if (length == 0) {
      continue;
    }
    const std::string_view version = rest.substr(0, length);
    // Libraries carry a compatibility tag too (LI-V6.3...); the one whose text goes on with the
    // product's own "Firebird M.m" of the same major and minor is the file's version.
    constexpr std::string_view kProduct = " Firebird ";
    const std::string_view after = rest.substr(length);
    if (after.substr(0, kProduct.size()) == kProduct) {
      const std::string_view product = after.substr(kProduct.size());
      const std::size_t product_length = DottedLength(product, 2);
      if (product_length > 0) {
        const std::string prefix = std::string(product.substr(0, product_length)) + ".";
        if (version.substr(0, prefix.size()) == prefix) {
          found.product = version;
          return;
        }
      }
    }
    if (found.first.empty()) {
      found.first = version;
    }
  }
}

// A build tag lies in the first few megabytes of a client library or tool, so a scan stops after
// kScanLimit bytes (64 MiB); the file is read kScanBlock bytes at a time, and the last
// kScanOverlap bytes of a block are read again with the next, so a tag across the border is seen
// whole.
constexpr std::size_t kScanLimit = 64 * 1024 * 1024;
constexpr std::size_t kScanBlock = 1024 * 1024;
constexpr std::size_t kScanOverlap = 256;

// Only a plain file (or a link to one) is read: a folder, a device, a named pipe or a missing
// or unreadable file carries no version.
std::string BuildTagOfFile(const std::string& file) {
  std::error_code error;
  if (!fs::is_regular_file(Utf8Path(file), error)) {
    return "";
  }
  std::ifstream in(Utf8Path(file), std::ios::binary);
  if (!in) {
    return "";
  }
  BuildTags found;
  std::string block(kScanBlock, '\0');
  std::size_t kept = 0;  // bytes carried over from the previous block
  std::size_t scanned = 0;
  while (scanned < kScanLimit) {
    in.read(block.data() + kept, static_cast<std::streamsize>(block.size() - kept));
    const auto count = static_cast<std::size_t>(in.gcount());
    if (count == 0) {
      break;
    }
    scanned += count;
    const bool last = !in || scanned >= kScanLimit;
    const std::string_view bytes(block.data(), kept + count);
    // A tag that starts in the last kScanOverlap bytes is read whole with the next block.
    const std::size_t carry = last ? 0 : std::min(kScanOverlap, bytes.size());
    FindBuildTags(bytes, bytes.size() - carry, found);
    if (!found.product.empty()) {
      return found.product;
    }
    if (last) {
      break;
    }
    std::memmove(block.data(), bytes.data() + bytes.size() - carry, carry);
    kept = carry;
  }
  return found.first;
}

// How many leading numbers two versions share; only the dotted number at the start of each counts.
int SharedParts(std::string_view a, std::string_view b) {
  const std::size_t length_a = DottedLength(a, 1);
  const std::size_t length_b = DottedLength(b, 1);
  if (length_a == 0 || length_b == 0) {
    return 0;
  }
  const auto parts_a = Parts(a.substr(0, length_a));
  const auto parts_b = Parts(b.substr(0, length_b));
  std::size_t shared = 0;
  while (shared < parts_a.size() && shared < parts_b.size() && parts_a[shared] == parts_b[shared]) {
    ++shared;
  }
  return static_cast<int>(shared);
}

bool VersionLess(std::string_view a, std::string_view b) {
  const auto parts_a = Parts(a);
  const auto parts_b = Parts(b);
  return std::lexicographical_compare(parts_a.begin(), parts_a.end(), parts_b.begin(),
                                      parts_b.end(), PartLess);
}

}  // namespace
}  // namespace vesk::detail

using namespace vesk::detail;

// A version read never fails its caller: whatever cannot be read carries no version.
std::string GetVersao(const std::string& FileName, bool /*Flag*/) {
  try {
    if (auto version = tolvan::platform::ReadVersionResource(FileName)) {
      return *version;
    }
    // Without a version resource (always on POSIX) the Firebird build tag inside the file tells.
    return BuildTagOfFile(FileName);
  } catch (const std::exception&) {
    return "";
  }
}

std::string GetVersaoFirebirdmsg(const std::string& FileName) {
  try {
    // The message file's header holds only its format's number; a build tag is all it can carry.
    return BuildTagOfFile(FileName);
  } catch (const std::exception&) {
    return "";
  }
}

std::string PegarArqVerAproximada(const std::string& Version, const std::string& FileName) {
  const SplitPath split = Split(FileName);
  const fs::path folder = Utf8Path(split.folder.empty() ? std::string(".") : split.folder);
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) {
    return "";
  }
  std::vector<std::string> names;
  for (const auto& entry : it) {
    std::error_code ignored;
    if (entry.is_regular_file(ignored)) {
      names.push_back(ToText(entry.path().filename()));
    }
  }
  std::sort(names.begin(), names.end());

  std::string best_name;
  std::string best_version;
  int best_shared = 1;  // major and minor at least
  for (const std::string& name : names) {
    const auto version = VersionInName(name, split);
    if (!version) {
      continue;
    }
    const int shared = SharedParts(Version, *version);
    if (shared > best_shared ||
        (shared == best_shared && !best_name.empty() && VersionLess(best_version, *version))) {
      best_shared = shared;
      best_name = name;
      best_version = *version;
    }
  }
  return best_name.empty() ? std::string() : split.folder + best_name;
}

void RenomearArqVerAproximada(const std::string& FileName, const std::string& CopyPath) {
  if (CopyPath.empty()) {
    return;
  }
  const fs::path file = Utf8Path(FileName);
  const fs::path copy = Utf8Path(CopyPath);
  std::error_code error;
  if (!fs::is_regular_file(copy, error)) {
    Fail(std::errc::no_such_file_or_directory, "não há a cópia guardada \"" + CopyPath +
                                                   "\"; copie para \"" + FileName +
                                                   "\" o arquivo da versão certa");
  }
  const auto file_status = fs::symlink_status(file, error);
  const bool file_there = fs::exists(file_status);
  if (file_there && fs::is_directory(fs::status(file, error))) {
    Fail(std::errc::is_a_directory,
         "\"" + FileName + "\" é uma pasta; troque-a pela cópia \"" + CopyPath + "\"");
  }
  // The copy is the file already: nothing to swap, and a file in use (a loaded library, which
  // Windows lets rename but not delete) is left alone.
  if (file_there && (fs::equivalent(file, copy, error) || SameContent(file, copy))) {
    return;
  }

  const SplitPath split = Split(FileName);
  const std::string hidden = split.folder + "." + split.stem + split.ext;
  // The copy goes in under a temporary name first, so that a failed copy leaves the file as it
  // was; a link in the file's place is renamed away, never written through.
  const std::string staged = hidden + ".tolvan-swap-" + UniqueSuffix();
  try {
    tolvan::platform::CopyFileOverwriting(CopyPath, staged);
  } catch (...) {
    tolvan::platform::RemoveFile(staged);
    throw;
  }

  // The file in place is only ever renamed: to its kept-copy name, or, when an identical kept
  // copy is there already, to a name of its own that is removed once the new file is in place.
  std::optional<fs::path> aside;
  bool discard = false;
  if (file_there) {
    aside = KeepName(file, split);
    if (!aside) {
      aside = Utf8Path(hidden + ".tolvan-old-" + UniqueSuffix());
      discard = true;
    }
    fs::rename(file, *aside, error);
    if (error) {
      tolvan::platform::RemoveFile(staged);
      throw std::system_error(error, "RenomearArqVerAproximada: não foi possível pôr \"" +
                                         FileName + "\" de lado; copie à mão \"" + CopyPath +
                                         "\" sobre ele");
    }
  }
  fs::rename(Utf8Path(staged), file, error);
  if (error) {
    std::error_code ignored;
    if (aside) {
      fs::rename(*aside, file, ignored);
    }
    tolvan::platform::RemoveFile(staged);
    throw std::system_error(error, "RenomearArqVerAproximada: não foi possível pôr a cópia em \"" +
                                       FileName + "\"; copie à mão \"" + CopyPath + "\" sobre ele");
  }
  if (discard) {
    // A library still loaded cannot be deleted on Windows; it stays under the hidden name.
    std::error_code ignored;
    fs::remove(*aside, ignored);
  }
}
