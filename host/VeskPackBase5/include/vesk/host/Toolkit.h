// What the stand-in host's toolkit offers the host itself (tolvan, the tests), beyond what it
// provides the plug-ins (vesk/VeskPackBase5.h): where dialogs and log entries go, and how its
// runners report what a host's runners need not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "tolvan/Visibility.h"
#include "vesk/VeskPackBase5.h"

// Raised by the runners when the program ran but how it ended cannot be known: the wait for it
// failed. What the program wrote may be complete and must not be cleared away as a failure's.
class VESKBASE_API EToolWaitFailed : public std::system_error {
 public:
  using std::system_error::system_error;
};

// What the runners return for a program that could not be started (missing, not executable, an
// empty command line, or an interrupt recorded before the start). No tool output goes with it.
inline constexpr int32_t kResultadoNaoIniciado = -1;

// The runners (WinExec32AndRedirectOutput, CaptureExecute) read a tool's output as the plug-ins'
// runner does (tolvan/support/ToolRunner.h): lines of at most kMaxLineBytes (64 KiB), UTF-8 when
// valid, else the ANSI code page on Windows and U+FFFD on POSIX; WinExec32AndRedirectOutput keeps
// at most the first and the last 256 KiB of lines. An interrupt recorded through
// platform/Interrupt.h while the program runs ends it (SIGTERM, then SIGKILL after 2 s on POSIX;
// TerminateProcess on Windows) and they return its exit code, never 0; with an interrupt recorded
// before the start, the program is not started. When the program ran but the wait for its end
// fails, they raise EToolWaitFailed.
inline constexpr std::size_t kMaxLineBytes = 64 * 1024;

// Where dialogs and log entries go. The host sets them; the defaults write to stderr (dialogs
// answer with their first button without waiting).
namespace vesk {

struct Dialog {
  std::string Text;
  TMsgDlgType Type = TMsgDlgType::mtInformation;
  std::vector<std::string> Buttons;
};
using DialogSink = std::function<int(const Dialog& dialog)>;
using LogSink = std::function<void(const std::string& text, int level, const std::string& source)>;

// Each setter returns the sink it replaced; an empty function restores the default.
VESKBASE_API DialogSink SetDialogSink(DialogSink sink);
VESKBASE_API LogSink SetLogSink(LogSink sink);

// A file every log entry is appended to as well, one line each (empty: none).
VESKBASE_API void SetLogFile(const std::string& file_name);

}  // namespace vesk
