#include <cerrno>
#include <fstream>
#include <string>
#include <system_error>

#include "Utf8Path.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "vesk/VeskPackBase5.h"

namespace {

[[noreturn]] void ThrowWriteError(const std::string& file_name) {
  const int code = errno != 0 ? errno : static_cast<int>(std::errc::io_error);
  throw std::system_error(code, std::generic_category(),
                          "GravarArquivo: não foi possível gravar \"" + file_name + "\"");
}

}  // namespace

std::string PegarDirTemp() {
  std::string dir = tolvan::platform::TemporaryDirectory();
  if (dir.empty() || (dir.back() != '/' && dir.back() != tolvan::platform::kPathDelimiter)) {
    dir += tolvan::platform::kPathDelimiter;
  }
  return dir;
}

void GravarArquivo(const std::string& Text, const std::string& FileName, bool Overwrite) {
  if (FileName.empty()) {
    throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                            "GravarArquivo: o nome do arquivo está vazio");
  }
  errno = 0;
  std::ofstream out(vesk::detail::Utf8Path(FileName),
                    std::ios::binary | (Overwrite ? std::ios::trunc : std::ios::app));
  if (!out) {
    ThrowWriteError(FileName);
  }
  out.write(Text.data(), static_cast<std::streamsize>(Text.size()));
  out.close();
  if (!out) {
    ThrowWriteError(FileName);
  }
}

bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists) {
  try {
    if (FailIfExists && tolvan::platform::FileExists(Target)) {
      return false;
    }
    // The system's own copy (CopyFileW on Windows), which also refuses a file onto itself.
    tolvan::platform::CopyFileOverwriting(Source, Target);
    return true;
  } catch (...) {
    return false;
  }
}
