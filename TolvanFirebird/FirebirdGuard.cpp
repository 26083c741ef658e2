// The tool-version guard run before every gbak run: gbak, the client library and the message file
// are compared with each other; a mismatching file is swapped for a kept copy of the right version
// or the operator is warned. It never stops the run, unless gbak is a folder and cannot run.
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "TolvanFirebirdUtil.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tolvan/support/Text.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::firebird {
namespace {

using support::EqualsIgnoringCase;
using support::IsFolder;

constexpr const char* kInstancesKey = "SOFTWARE\\Firebird Project\\Firebird Server\\Instances";
constexpr const char* kMessageFile = "firebird.msg";

bool IsDelimiter(char c) {
  return c == '/' || c == tolvan::platform::kPathDelimiter;
}

void Warn(const std::string& text) {
  VeskMessageDlg(text, TMsgDlgType::mtWarning, {"Ok"}, 0);
}

std::string WrongVersionText(const std::string& name, const std::string& found,
                             const std::string& expected) {
  return "A versão do arquivo " + name + " é " + found + "\r\n" + " e esperava-se " + expected +
         ".\r\n\r\n" + "Favor copiar a versão correta para o diretório do aplicativo.";
}

std::optional<std::string> ReadDefaultInstance() {
  try {
    return tolvan::platform::ReadRegistryString(tolvan::platform::RegistryRoot::LocalMachine,
                                                kInstancesKey, "DefaultInstance");
  } catch (...) {
    // Any failure of the read means the fallback folder.
    return std::nullopt;
  }
}

// The message file to compare. When the registry names a file instead of a folder, the operator
// is warned and the file beside the application folder is taken, as for a value not there.
std::string MessageFilePath(const std::string& app_dir) {
  const std::optional<std::string> instance = ReadDefaultInstance();
  if (instance && !instance->empty() && tolvan::platform::PathEntryExists(*instance) &&
      !IsFolder(*instance)) {
    const std::string fallback = FirebirdMsgPath(app_dir, std::nullopt);
    Warn("O valor DefaultInstance do registro do Firebird (\"" + *instance +
         "\") indica um arquivo, não uma pasta.\r\nO firebird.msg foi procurado em \"" + fallback +
         "\".");
    return fallback;
  }
  return FirebirdMsgPath(app_dir, instance);
}

}  // namespace

std::string GbakToolPath(const std::string& app_dir) {
  return app_dir + "gbak" + tolvan::platform::kExecutableSuffix;
}

std::string FirebirdMsgPath(const std::string& app_dir,
                            const std::optional<std::string>& default_instance) {
  if (default_instance && !default_instance->empty()) {
    return *default_instance + kMessageFile;
  }
  std::size_t end = app_dir.size();
  while (end > 0 && IsDelimiter(app_dir[end - 1])) {
    --end;
  }
  while (end > 0 && !IsDelimiter(app_dir[end - 1])) {
    --end;
  }
  return app_dir.substr(0, end) + kMessageFile;
}

std::string VerificarVersaoGbak(const std::string& expected, const std::string& library,
                                bool report) {
  const std::string app_dir = tolvan::platform::ExecutableDirectory();
  const std::string tool = GbakToolPath(app_dir);
  // A folder has no version to read and cannot run; say so before anything is swapped.
  if (IsFolder(tool)) {
    throw std::runtime_error("O gbak esperado em \"" + tool +
                             "\" é uma pasta, não um programa.\r\nTroque essa pasta pelo gbak" +
                             (expected.empty() ? std::string() : " da versão " + expected) +
                             " do Firebird, copiado para \"" + app_dir + "\".");
  }
  std::string tool_version = GetVersao(tool, false);

  if (!expected.empty()) {
    if (!EqualsIgnoringCase(tool_version, expected)) {
      RenomearArqVerAproximada(tool, PegarArqVerAproximada(expected, tool));
    }
    tool_version = GetVersao(tool, false);
    if (report && !EqualsIgnoringCase(tool_version, expected)) {
      tolvan::platform::ShowPlainMessageBox("gbak " + tool_version + " diferente do fbclient " +
                                            expected);
    }
  }

  const std::string client = app_dir + library;
  if (IsFolder(client)) {
    // No library named (the application folder itself) or a folder of that name: nothing to
    // compare, and nothing that a kept copy could replace.
    Warn(
        library.empty()
            ? "Nenhuma biblioteca cliente do Firebird foi informada; a versão do gbak não pôde ser "
              "comparada com a dela."
            : "A biblioteca cliente \"" + library + "\" é uma pasta em \"" + app_dir +
                  "\", não um arquivo; a versão do gbak não pôde ser comparada com a dela.\r\n"
                  "Troque essa pasta pela biblioteca cliente " +
                  library + " da versão " + tool_version + " do Firebird, copiada para \"" +
                  app_dir + "\".");
  } else if (const std::string client_version = GetVersao(client, false);
             !EqualsIgnoringCase(client_version, tool_version)) {
    const std::string copy = PegarArqVerAproximada(tool_version, client);
    if (copy.empty()) {
      Warn(WrongVersionText(library, client_version, tool_version));
    } else {
      RenomearArqVerAproximada(client, copy);
    }
  }

  const std::string message_file = MessageFilePath(app_dir);
  const std::string message_version = GetVersaoFirebirdmsg(message_file);
  if (!EqualsIgnoringCase(message_version, tool_version.substr(0, message_version.size()))) {
    const std::string copy = PegarArqVerAproximada(tool_version, app_dir + kMessageFile);
    if (copy.empty()) {
      Warn(WrongVersionText(kMessageFile, message_version, tool_version.substr(0, 3)));
    } else {
      RenomearArqVerAproximada(message_file, copy);
    }
  }
  return tool;
}

}  // namespace tolvan::firebird
