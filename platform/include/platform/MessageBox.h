// The plain modal message box: one text, one OK button.
#pragma once

#include <functional>
#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

using MessageBoxSink = std::function<void(const std::string& text)>;

// Shows the text and returns when the operator has closed it. With a sink set, the sink gets the
// text instead; without one, Windows shows a real message box and POSIX writes the text to stderr.
TOLVAN_PLATFORM_API void ShowPlainMessageBox(const std::string& text);

// Sets the sink (an empty function removes it). Returns the previous sink.
TOLVAN_PLATFORM_API MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);

}  // namespace tolvan::platform
