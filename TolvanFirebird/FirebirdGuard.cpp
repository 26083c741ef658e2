// The tool-version guard run before every gbak run: gbak, the client library and the message file
// are compared with each other; a mismatching file is swapped for a kept copy of the right version
// or the operator is warned. It never stops the run.
#include <string>
#include <string_view>
#include <vector>

#include "TolvanFirebirdUtil.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::firebird {
namespace {

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
  const std::string client_version = GetVersao(client, false);
  if (!EqualsIgnoringCase(client_version, tool_version)) {
    const std::string copy = PegarArqVerAproximada(tool_version, client);
    if (copy.empty()) {
      Warn(WrongVersionText(library, client_version, tool_version));
    } else {
      RenomearArqVerAproximada(client, copy);
    }
  }

  const std::string message_file = FirebirdMsgPath(app_dir, ReadDefaultInstance());
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
