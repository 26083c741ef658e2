#include "ConsoleSinks.h"

#include <iostream>
#include <string>

#include "Console.h"

namespace tolvan::cli {
namespace {

const char* Label(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return "warning";
    case TMsgDlgType::mtError:
      return "error";
    case TMsgDlgType::mtInformation:
      return "information";
    case TMsgDlgType::mtConfirmation:
      return "confirmation";
    case TMsgDlgType::mtCustom:
      break;
  }
  return "message";
}

bool ShouldWait(bool go_on) {
  return !go_on && StdinIsTerminal();
}

int ShowDialog(const vesk::Dialog& dialog, bool go_on) {
  std::cerr << "[" << Label(dialog.Type) << "] " << dialog.Text << "\n";
  if (dialog.Buttons.size() > 1) {
    for (std::size_t i = 0; i < dialog.Buttons.size(); ++i) {
      std::cerr << "  " << (i + 1) << ") " << dialog.Buttons[i] << "\n";
    }
  }
  if (!ShouldWait(go_on)) {
    return 0;
  }
  for (;;) {
    std::cerr << (dialog.Buttons.size() > 1 ? "Choose (Enter: 1): " : "Press Enter to go on: ")
              << std::flush;
    const auto line = ReadInputLine();
    if (!line || line->empty()) {
      return 0;
    }
    try {
      const std::size_t chosen = std::stoul(*line);
      if (chosen >= 1 && chosen <= dialog.Buttons.size()) {
        return static_cast<int>(chosen - 1);
      }
    } catch (const std::exception&) {
    }
  }
}

}  // namespace

ScopedConsoleSinks::ScopedConsoleSinks(bool go_on) {
  previous_dialog_ = vesk::SetDialogSink(
      [go_on](const vesk::Dialog& dialog) { return ShowDialog(dialog, go_on); });
  previous_log_ = vesk::SetLogSink([](const std::string& text, int, const std::string& source) {
    std::cerr << "[log " << source << "] " << text << "\n";
  });
  previous_box_ = tolvan::platform::SetMessageBoxSink([go_on](const std::string& text) {
    ShowDialog(vesk::Dialog{text, TMsgDlgType::mtInformation, {"OK"}}, go_on);
  });
}

ScopedConsoleSinks::~ScopedConsoleSinks() {
  vesk::SetDialogSink(previous_dialog_);
  vesk::SetLogSink(previous_log_);
  tolvan::platform::SetMessageBoxSink(previous_box_);
}

}  // namespace tolvan::cli
