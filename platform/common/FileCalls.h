// The steps of ReplaceDurably, noted for a ScopedFileCallRecorder while one is alive.
#pragma once

#include <string>

namespace tolvan::platform::internal {

void NoteFileCall(const char* call, const std::string& path);

}  // namespace tolvan::platform::internal
