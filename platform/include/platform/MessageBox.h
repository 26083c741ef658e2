// The plain modal message box: one text, one OK button.
#pragma once

#include <functional>
#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

using MessageBoxSink = std::function<void(const std::string& text)>;

// Shows the text and returns when the operator has closed it. With a sink set, the sink gets the
// text instead; without one, Windows shows a real message box. POSIX has none of the system's: the
// host's copy of this library writes the text to stderr, and a plug-in's copy hands it to the
// host's copy (and so to the sink the host set), or to stderr in a host without one.
TOLVAN_PLATFORM_API void ShowPlainMessageBox(const std::string& text);

// Sets the sink (an empty function removes it). Returns the previous sink.
TOLVAN_PLATFORM_API MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);

// The host's main window (an HWND on Windows; nullptr: none), which owns the system's box so that
// it opens in front of it and the host's windows take no input until it is closed. The box is
// task-modal and brought to the foreground either way. Returns the previous owner. POSIX keeps it
// only for symmetry.
TOLVAN_PLATFORM_API void* SetMessageBoxOwner(void* window);

}  // namespace tolvan::platform
