// Dialogs and the log go to sinks the host sets; without one they are written to stderr.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "Utf8Path.h"
#include "platform/Files.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Toolkit.h"

namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

struct Sinks {
  vesk::DialogSink dialog;
  vesk::LogSink log;
  std::string log_file;
};

Sinks& State() {
  static Sinks sinks;
  return sinks;
}

const char* TypeName(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return "Aviso";
    case TMsgDlgType::mtError:
      return "Erro";
    case TMsgDlgType::mtInformation:
      return "Informação";
    case TMsgDlgType::mtConfirmation:
      return "Confirmação";
    case TMsgDlgType::mtCustom:
      break;
  }
  return "Mensagem";
}

int DefaultDialog(const vesk::Dialog& dialog) {
  std::string buttons;
  for (const auto& caption : dialog.Buttons) {
    buttons += buttons.empty() ? "" : " ";
    buttons += "[" + caption + "]";
  }
  std::fprintf(stderr, "%s: %s\n%s%s", TypeName(dialog.Type), dialog.Text.c_str(), buttons.c_str(),
               buttons.empty() ? "" : "\n");
  std::fflush(stderr);
  // Nobody can answer here: take the first button, as pressing Enter would.
  return dialog.Buttons.empty() ? -1 : 0;
}

void DefaultLog(const std::string& text, int /*level*/, const std::string& source) {
  std::fprintf(stderr, "[%s] %s\n", source.c_str(), text.c_str());
  std::fflush(stderr);
}

// "2026-12-08T05:12:31.123Z": UTC, so entries from any machine sort and compare as they are.
std::string IsoNow() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

// One entry stays one line in the file.
std::string EscapeLineEnds(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

// Called with the mutex held, so entries from several threads do not interleave in the file.
void AppendToLogFile(const std::string& file_name, const std::string& text,
                     const std::string& source) {
  const std::string line =
      IsoNow() + " [" + EscapeLineEnds(source) + "] " + EscapeLineEnds(text) + "\n";
  // A new log is its owner's alone: its entries name databases, users and paths. One that is
  // there keeps its protection.
  try {
    tolvan::platform::CreateNewFile(file_name);
  } catch (const std::system_error&) {
    // The append below says what failed.
  }
  std::ofstream out(vesk::detail::Utf8Path(file_name), std::ios::binary | std::ios::app);
  if (out) {
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out.close();
  }
  if (!out) {
    // Logging must never turn into a failure of its own (it is used on error paths).
    std::fprintf(stderr, "não foi possível gravar no arquivo de log \"%s\"\n", file_name.c_str());
  }
}

}  // namespace

namespace vesk {

DialogSink SetDialogSink(DialogSink sink) {
  std::lock_guard lock(SinkMutex());
  return std::exchange(State().dialog, std::move(sink));
}

LogSink SetLogSink(LogSink sink) {
  std::lock_guard lock(SinkMutex());
  return std::exchange(State().log, std::move(sink));
}

void SetLogFile(const std::string& file_name) {
  std::lock_guard lock(SinkMutex());
  State().log_file = file_name;
}

}  // namespace vesk

int VeskMessageDlg(const std::string& Text, TMsgDlgType Type,
                   const std::vector<std::string>& Buttons, int /*HelpContext*/) {
  vesk::DialogSink sink;
  {
    std::lock_guard lock(SinkMutex());
    sink = State().dialog;
  }
  const vesk::Dialog dialog{Text, Type, Buttons};
  return sink ? sink(dialog) : DefaultDialog(dialog);
}

void VeskShowMessage(const std::string& Text) {
  VeskMessageDlg(Text, TMsgDlgType::mtCustom, {"OK"}, 0);
}

void WriteLog(const std::string& Text, int Level, const std::string& Source) {
  vesk::LogSink sink;
  {
    std::lock_guard lock(SinkMutex());
    sink = State().log;
    if (!State().log_file.empty()) {
      AppendToLogFile(State().log_file, Text, Source);
    }
  }
  if (sink) {
    sink(Text, Level, Source);
  } else {
    DefaultLog(Text, Level, Source);
  }
}
