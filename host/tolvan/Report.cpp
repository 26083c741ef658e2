#include "Report.h"

#include <cmath>
#include <cstdio>
#include <regex>
#include <string_view>

namespace tolvan::cli {
namespace {

std::string OneDecimal(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  std::string text = buffer;
  for (char& c : text) {
    if (c == '.') {
      c = ',';
    }
  }
  return text;
}

bool IsGbakError(std::string_view line) {
  return line.find("ERROR:") != std::string_view::npos;
}

}  // namespace

std::string FormatSize(std::uint64_t bytes) {
  if (bytes < 1024) {
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  }
  constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // Rounded as it is shown, so 1023.96 KB reads "1,0 MB", not "1024,0 KB".
  while (unit + 1 < std::size(kUnits) && std::round(value * 10) / 10 >= 1024) {
    value /= 1024;
    ++unit;
  }
  return OneDecimal(value) + " " + kUnits[unit];
}

std::string FormatDuration(std::chrono::duration<double> elapsed) {
  const double seconds = std::max(0.0, elapsed.count());
  if (seconds < 59.95) {
    return OneDecimal(seconds) + " s";
  }
  const auto whole = static_cast<long long>(std::llround(seconds));
  char buffer[48];
  if (whole < 3600) {
    std::snprintf(buffer, sizeof buffer, "%lld min %02lld s", whole / 60, whole % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%lld h %02lld min", whole / 3600, whole % 3600 / 60);
  }
  return buffer;
}

std::string FormatTimeLeft(std::chrono::duration<double> left) {
  // Below a minute an estimate of seconds promises more than the pace can tell.
  if (left.count() < 60) {
    return "menos de 1 min";
  }
  std::string text = "~";
  text += FormatDuration(left);
  return text;
}

std::string FormatCount(std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) {
    digits.insert(at - 3, 1, '.');
  }
  return digits;
}

std::vector<std::string> MessageLines(const std::string& message) {
  std::vector<std::string> errors;
  std::vector<std::string> others;
  std::size_t start = 0;
  while (start <= message.size()) {
    std::size_t end = message.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      end = message.size();
    }
    std::string line = message.substr(start, end - start);
    const auto last = line.find_last_not_of(" \t");
    if (last != std::string::npos) {
      line.resize(last + 1);
      (IsGbakError(line) ? errors : others).push_back(std::move(line));
    }
    start = end + 1;
    if (end + 1 < message.size() && message[end] == '\r' && message[end + 1] == '\n') {
      ++start;
    }
  }
  errors.insert(errors.end(), others.begin(), others.end());
  return errors;
}

std::vector<std::string> OperatorHints(const std::string& said) {
  struct Hint {
    std::regex pattern;
    // "$1" stands for the pattern's first group (a path, a name).
    const char* text;
  };
  static const Hint kHints[] = {
      {std::regex("Your user name and password are not defined|password authentication failed|"
                  "no password supplied"),
       "A senha foi recusada ou não foi dada: informe-a em TOLVAN_PASSWORD (num script, lida de "
       "um arquivo que só o dono lê) ou rode o tolvan num terminal, onde ele a pergunta."},
      {std::regex("I/O error during \"open\" operation for file \"([^\"]*)\"[^]*(No such file or "
                  "directory|cannot find the (file|path) specified)"),
       "O banco de dados $1 não existe: confira o caminho de --database."},
      {std::regex("I/O error during \"lock\" operation for file \"([^\"]*)\"[^]*Database "
                  "already opened with engine instance, incompatible with current"),
       "O banco de dados $1 está aberto por outro programa que usa o Firebird embutido (outro "
       "tolvan, um isql): espere que ele termine, ou feche-o, e rode de novo."},
      {std::regex("cannot open backup file ([^\r\n]*)"),
       "O arquivo de backup $1 não existe ou não pode ser lido: confira o caminho de --file."},
      {std::regex("database ([^\r\n]*) already exists\\.  To replace it"),
       "O banco de destino $1 já existe, e o tolvan não restaura sobre um banco: restaure em outro "
       "caminho (outro --database; em RestoreConn, outro --target) ou remova antes o que está "
       "lá, se ele puder ser perdido."},
      {std::regex("database \"([^\"]*)\" does not exist"),
       "O banco $1 não existe nesse servidor: confira o banco de --database "
       "(servidor/porta:banco)."},
      {std::regex("Unable to complete network request to host \"([^\"]*)\"|could not connect to "
                  "server|Connection refused"),
       "O servidor não respondeu: confira o nome e a porta de --database e se o serviço do banco "
       "está no ar."},
  };
  std::vector<std::string> hints;
  for (const Hint& hint : kHints) {
    std::smatch match;
    if (std::regex_search(said, match, hint.pattern)) {
      hints.push_back(match.format(hint.text));
    }
  }
  return hints;
}

std::string ErrorBlock(const std::string& message, const std::set<std::string>& seen) {
  std::string said = message;
  for (const std::string& line : seen) {
    said += "\n" + line;
  }
  std::string block = "erro:\n";
  for (const std::string& hint : OperatorHints(said)) {
    block += "  " + hint + "\n";
  }
  bool left_out = false;
  bool any = false;
  bool error_left_out = false;
  bool error_shown = false;
  for (const std::string& line : MessageLines(message)) {
    if (seen.count(line) != 0) {
      left_out = true;
      error_left_out = error_left_out || IsGbakError(line);
      continue;
    }
    error_shown = error_shown || IsGbakError(line);
    block += "  " + line + "\n";
    any = true;
  }
  if (error_left_out && !error_shown) {
    // What is left may be only the heading ("Restore:"): say where the reason is.
    block += "  (o motivo está acima, nas linhas da ferramenta marcadas com ERROR)\n";
  } else if (left_out && !any) {
    block += "  (as linhas da ferramenta acima)\n";
  }
  return block;
}

}  // namespace tolvan::cli
