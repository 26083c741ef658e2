#include "ConsoleSinks.h"

#include <iostream>
#include <stdexcept>
#include <string>

#include "Console.h"
#include "platform/Interrupt.h"

namespace tolvan::cli {
namespace {

const char* Label(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning:
      return "aviso";
    case TMsgDlgType::mtError:
      return "erro";
    case TMsgDlgType::mtInformation:
      return "informação";
    case TMsgDlgType::mtConfirmation:
      return "confirmação";
    case TMsgDlgType::mtCustom:
      break;
  }
  return "mensagem";
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
    std::cerr << (dialog.Buttons.size() > 1 ? "Escolha (Enter: 1): " : "Tecle Enter para seguir: ")
              << std::flush;
    const auto line = ReadInputLine();
    if (tolvan::platform::InterruptSignal() != 0) {
      // An interrupt at the prompt is no answer: the export stops here and cleans up.
      std::cerr << "\n";
      throw std::runtime_error("interrompido enquanto esperava a resposta do operador");
    }
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

ScopedConsoleSinks::ScopedConsoleSinks(bool go_on, bool quiet) {
  previous_dialog_ = vesk::SetDialogSink([this, go_on](const vesk::Dialog& dialog) {
    // A note (an information message) is shown as it comes, is never a failure, and with nothing
    // to choose does not hold the run up waiting for Enter.
    if (dialog.Type == TMsgDlgType::mtInformation) {
      return ShowDialog(dialog, go_on || dialog.Buttons.size() <= 1);
    }
    ++message_boxes_;
    last_box_ = dialog.Text;
    if (hold_boxes_ && dialog.Buttons.size() <= 1) {
      Hold(dialog.Text);
      return 0;
    }
    return ShowDialog(dialog, go_on);
  });
  previous_log_ =
      vesk::SetLogSink([this, quiet](const std::string& text, int, const std::string& source) {
        if (hold_boxes_ && text == last_box_) {
          return;
        }
        // The same text as the message box just shown is not printed twice.
        const std::string note =
            "[registro " + source + "] " +
            (text == last_box_ ? std::string("a mesma mensagem foi gravada no log") : text) + "\n";
        if (quiet) {
          held_notes_ += note;
        } else {
          std::cerr << note;
        }
      });
  previous_box_ = tolvan::platform::SetMessageBoxSink([this, go_on](const std::string& text) {
    ++message_boxes_;
    last_box_ = text;
    if (hold_boxes_) {
      Hold(text);
      return;
    }
    ShowDialog(vesk::Dialog{text, TMsgDlgType::mtInformation, {"OK"}}, go_on);
  });
}

void ScopedConsoleSinks::Hold(const std::string& text) {
  if (!held_.empty()) {
    held_ += "\n";
  }
  held_ += text;
}

ScopedConsoleSinks::~ScopedConsoleSinks() {
  vesk::SetDialogSink(previous_dialog_);
  vesk::SetLogSink(previous_log_);
  tolvan::platform::SetMessageBoxSink(previous_box_);
}

}  // namespace tolvan::cli
