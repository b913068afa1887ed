#pragma once

#include <string>
#include <vector>

#include "engine/update_events.h"

namespace quillon {

// Exit codes of an update, of `flash` and of the station: a script's view
// of how the boxes ended. Listed in `flash --help`.
enum ExitCode : int {
    kExitSuccess = 0,
    kExitPortOpen = 2,
    kExitBadInput = 3,
    kExitConnection = 4,
    kExitBurnTimeout = 5,
    kExitBoxFailure = 6,
    kExitMixed = 7,    // several boxes failed, not all in the same way
    kExitLogLost = 8,  // every box ended, but some results could not be logged
    kExitUsage = 64,   // EX_USAGE, for every option error of every command
};

extern const char* const kExitCodeHelp;

// The exit code of one update; a cancelled one ends with 128 + the signal.
int ExitCodeOf(UpdateOutcome outcome, int signal);

// Why an update was cancelled, in words: the signal, or a stop.
std::string CancelledReason(int signal);

// The exit code of many boxes: 0 when every one succeeded, the code that all
// failures share, else kExitMixed.
int CombinedExitCode(const std::vector<int>& codes);

}  // namespace quillon
