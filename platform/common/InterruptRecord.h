// The interrupt record shared by the handlers of each operating system.
#pragma once

namespace tolvan::platform::internal {

// Records the interrupt as RequestInterrupt does, noting that a ScopedInterruptRecorder made it
// (safe inside a signal handler).
void RecordFromRecorder(int signal_number) noexcept;

// At the end of a recorder's scope: forgets the record when that scope made it and the record
// was empty when the scope began; keeps it when the interrupt was handed to this copy's own
// handler, whose record it then is.
void EndRecorderScope(int record_before, bool handed_to_own_handler) noexcept;

}  // namespace tolvan::platform::internal
