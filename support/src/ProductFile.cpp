// Product files made under a temporary name and put in place by one rename.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "platform/Files.h"
#include "tolvan/support/ProductFile.h"
#include "tolvan/support/Text.h"
#include "tolvan/support/ToolRunner.h"

namespace tolvan::support {
namespace {

std::string RandomSuffix() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::lock_guard lock(mutex);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
  return text;
}

constexpr std::size_t kSuffixDigits = 10;
// ".~" + the digits + ".tmp".
constexpr std::size_t kTemporaryTagBytes = 2 + kSuffixDigits + 4;

// A name that tells an operator what the file is, should a crash leave it behind.
std::string TemporaryName(const std::string& final_path) {
  return NameBeside(final_path, ".~" + RandomSuffix().substr(0, kSuffixDigits) + ".tmp");
}

std::string Utf8Name(const std::filesystem::path& path) {
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
}

// True when name is TemporaryName's for final_name: its stem, ".~", the ten hexadecimal digits and
// ".tmp".
bool IsTemporaryNameOf(const std::string& name, const std::string& final_name) {
  const std::string head = StemBeside(final_name, kTemporaryTagBytes) + ".~";
  const std::string tail = ".tmp";
  if (name.size() != head.size() + kSuffixDigits + tail.size() || name.rfind(head, 0) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  for (std::size_t i = head.size(); i < head.size() + kSuffixDigits; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

// Removes the temporaries of final_path that no process holds: those of a host that was killed
// (or lost its power) while it worked. Those of runs still working, and products kept for the
// operator (read-only), stay. A folder that cannot be read is left alone.
void RemoveStaleTemporaries(const std::string& final_path) {
  const std::filesystem::path final_name = Utf8Path(final_path);
  const std::string name = Utf8Name(final_name);
  if (name.empty()) {
    return;
  }
  std::filesystem::path folder = final_name.parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    if (IsTemporaryNameOf(Utf8Name(entries->path()), name)) {
      const std::u8string path = entries->path().u8string();
      tolvan::platform::RemoveUnheldFile(std::string(path.begin(), path.end()));
    }
  }
}

// The header gbak writes first: the backup record, then its format attribute (4 bytes, the
// format's number, little-endian).
bool BeginsAsGbakBackup(const std::string& head) {
  return head.size() >= 7 && head[0] == '\x00' && head[1] == '\x02' && head[2] == '\x04' &&
         head[3] != '\x00' && head[4] == '\x00' && head[5] == '\x00' && head[6] == '\x00';
}

// EXP's header, "EXPORT:Vnn.nn.nn", stands within the first bytes, after a few of its own.
bool BeginsAsExportDump(const std::string& head) {
  const std::size_t at = head.find("EXPORT:V");
  return at != std::string::npos && at <= 8;
}

std::string ReadHead(const std::string& path, std::size_t bytes) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  std::string head(bytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(bytes));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head;
}

// Why the product is no product of its kind, or nothing when it is one.
std::string KindProblem(const std::string& path, ProductKind kind) {
  if (kind == ProductKind::Any) {
    return {};
  }
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(Utf8Path(path), error);
  if (error) {
    return "não foi possível ler o arquivo que ela gerou (" +
           FileErrorReason(std::system_error(error)) + ")";
  }
  if (size == 0) {
    return "o arquivo que ela gerou está vazio";
  }
  const std::string head = ReadHead(path, 32);
  if (kind == ProductKind::GbakBackup && !BeginsAsGbakBackup(head)) {
    return "o arquivo que ela gerou (" + std::to_string(size) +
           " bytes) não começa como um backup do gbak";
  }
  if (kind == ProductKind::ExportDump && !BeginsAsExportDump(head)) {
    return "o arquivo que ela gerou (" + std::to_string(size) +
           " bytes) não começa como um dump do EXP (\"EXPORT:V\")";
  }
  return {};
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

std::string StemBeside(const std::string& name, std::size_t tag_bytes) {
  if (name.size() + tag_bytes <= kMaxNameBytes) {
    return name;
  }
  std::size_t keep = tag_bytes < kMaxNameBytes ? kMaxNameBytes - tag_bytes : 0;
  // Never inside a character: back to the first byte of the one that would be cut.
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return name.substr(0, keep);
}

std::string NameBeside(const std::string& final_path, const std::string& tag) {
  const char* separators = std::filesystem::path::preferred_separator == '\\' ? "/\\" : "/";
  const std::size_t last = final_path.find_last_of(separators);
  const std::size_t name_at = last == std::string::npos ? 0 : last + 1;
  return final_path.substr(0, name_at) + StemBeside(final_path.substr(name_at), tag.size()) + tag;
}

std::string FinalNameProblem(const std::string& path) {
  if (!tolvan::platform::PathEntryExists(path) || tolvan::platform::IsPlainFile(path) ||
      tolvan::platform::IsLink(path)) {
    return {};
  }
  std::error_code error;
  const auto type = std::filesystem::symlink_status(Utf8Path(path), error).type();
  using std::filesystem::file_type;
  const char* what = "algo que não é um arquivo comum";
  switch (type) {
    case file_type::directory:
      what = "uma pasta";
      break;
    case file_type::character:
    case file_type::block:
      what = "um dispositivo";
      break;
    case file_type::fifo:
      what = "um pipe nomeado";
      break;
    case file_type::socket:
      what = "um socket";
      break;
    default:
      break;
  }
  return std::string("há ") + what +
         " com esse nome; informe o caminho de um arquivo comum, novo ou a substituir";
}

ProductFile::ProductFile(std::string final_path, ProductKind kind)
    : final_path_(std::move(final_path)), kind_(kind) {
  // A rename would destroy a device or a pipe at the final name, and fail over a folder only after
  // all the work; writing through it would leave no file at all.
  if (std::string problem = FinalNameProblem(final_path_); !problem.empty()) {
    std::error_code error;
    const bool folder = std::filesystem::is_directory(Utf8Path(final_path_), error);
    throw EProductRefused(
        std::make_error_code(folder ? std::errc::is_a_directory : std::errc::invalid_argument),
        final_path_, std::move(problem));
  }
  RemoveStaleTemporaries(final_path_);
  for (int attempt = 0;; ++attempt) {
    std::string candidate = TemporaryName(final_path_);
    hold_ = tolvan::platform::CreateHeldFile(candidate);
    if (hold_ != tolvan::platform::kNoFileHold) {
      path_ = std::move(candidate);
      return;
    }
    if (attempt == 16) {
      throw std::system_error(
          std::make_error_code(std::errc::file_exists),
          "não foi possível reservar um nome temporário ao lado de " + Quoted(final_path_));
    }
  }
}

ProductFile::~ProductFile() {
  if (!committed_) {
    tolvan::platform::RemoveFile(path_);
  }
  Release();
}

void ProductFile::Release() {
  tolvan::platform::ReleaseFileHold(hold_);
  hold_ = tolvan::platform::kNoFileHold;
}

void ProductFile::Keep() {
  committed_ = true;
  // Read-only, so that a later run does not take it for a leftover once we let go of it.
  tolvan::platform::MakeReadOnly(path_);
  Release();
}

void ProductFile::Commit() {
  const std::string problem = KindProblem(path_, kind_);
  if (!problem.empty()) {
    throw EProductNotPlaced("A ferramenta terminou sem erro, mas " + problem + "; " +
                                Quoted(final_path_) + " ficou como estava.",
                            "");
  }
  try {
    tolvan::platform::ReleaseFileHoldForRename(hold_);
    tolvan::platform::ReplaceDurably(path_, final_path_);
  } catch (const tolvan::platform::FolderNotFlushed& error) {
    committed_ = true;
    Release();
    throw EProductNotPlaced(
        "O arquivo foi posto em " + Quoted(final_path_) +
            ", mas a pasta dele não pôde ser gravada no disco (" + FileErrorReason(error) +
            "): numa queda de energia, ele pode voltar a ser o anterior ou sumir.",
        "");
  } catch (const tolvan::platform::FileNotFlushed& error) {
    // What the disk keeps of it may not be what was written: no product.
    throw EProductNotPlaced("O arquivo gerado não pôde ser gravado no disco (" +
                                FileErrorReason(error) + "); " + Quoted(final_path_) +
                                " ficou como estava.",
                            "");
  } catch (const std::system_error& error) {
    // A whole product that could not take the final name (the old file in use, no right to
    // replace it): it stays for the operator.
    if (!tolvan::platform::IsPlainFile(path_)) {
      throw EProductNotPlaced("O arquivo gerado não pôde ser posto no lugar de " +
                                  Quoted(final_path_) + " (" + FileErrorReason(error) + "); " +
                                  Quoted(final_path_) + " ficou como estava.",
                              "");
    }
    Keep();
    throw EProductNotPlaced("O arquivo gerado foi mantido em " + Quoted(path_) +
                                ", mas não pôde ser posto no lugar de " + Quoted(final_path_) +
                                " (" + FileErrorReason(error) + "); " + Quoted(final_path_) +
                                " ficou como estava.",
                            path_);
  }
  committed_ = true;
  Release();
}

std::string FileErrorReason(const std::system_error& error) {
  if (const auto* refused = dynamic_cast<const EProductRefused*>(&error)) {
    return refused->Reason();
  }
  const std::error_condition condition = error.code().default_error_condition();
  if (condition == std::errc::no_such_file_or_directory) {
    return "a pasta não existe";
  }
  if (condition == std::errc::permission_denied ||
      condition == std::errc::operation_not_permitted) {
    return "não há permissão para gravar na pasta";
  }
  if (condition == std::errc::no_space_on_device) {
    return "o disco está cheio";
  }
  if (condition == std::errc::read_only_file_system) {
    return "o disco só permite leitura";
  }
  if (condition == std::errc::is_a_directory) {
    return "há uma pasta com esse nome";
  }
  if (condition == std::errc::device_or_resource_busy || condition == std::errc::text_file_busy) {
    return "o arquivo está em uso por outro programa";
  }
  if (condition == std::errc::io_error) {
    return "erro de leitura ou gravação no disco";
  }
  if (condition == std::errc::filename_too_long) {
    return "o nome passa do limite do sistema de arquivos";
  }
  return "erro " + std::to_string(error.code().value()) + " do sistema";
}

void MakeProduct(const ProductSteps& steps, const std::function<void(const std::string&)>& work) {
  std::optional<ProductFile> product;
  if (!steps.at_final_name) {
    try {
      product.emplace(steps.final_path, steps.kind);
    } catch (const EProductRefused& error) {
      throw std::runtime_error(steps.refused ? steps.refused(error.Reason())
                                             : steps.not_created(error.Reason()));
    } catch (const std::system_error& error) {
      throw std::runtime_error(steps.not_created(FileErrorReason(error)));
    }
  }
  const std::string written = product ? product->Path() : steps.final_path;
  try {
    work(written);
  } catch (const ToolWaitFailed& error) {
    // The tool may have written a whole product: it stays for the operator to check, beside the
    // previous one, which stays as it was.
    if (product) {
      product->Keep();
    }
    throw std::runtime_error(steps.outcome_unknown(error, written));
  }
  if (product) {
    try {
      product->Commit();
    } catch (const EProductNotPlaced& error) {
      throw std::runtime_error(steps.heading + error.what());
    }
  }
}

}  // namespace tolvan::support
