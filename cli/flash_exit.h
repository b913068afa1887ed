#pragma once

#include <vector>

#include "engine/update_worker.h"

namespace quillon::cli {

// Exit codes of `flash`, also listed in its --help.
enum FlashExit : int {
    kExitSuccess = 0,
    kExitPortOpen = 2,
    kExitBadInput = 3,
    kExitConnection = 4,
    kExitBurnTimeout = 5,
    kExitBoxFailure = 6,
    kExitMixed = 7,  // several boxes failed, not all in the same way
    kExitUsage = 64,
};

extern const char* const kExitCodeHelp;

// The exit code of one update; a cancelled one ends with 128 + the signal.
int ExitCodeOf(unsigned outcome, int signal);

// The exit code of many boxes: 0 when every one succeeded, the code that all
// failures share, else kExitMixed.
int CombinedExitCode(const std::vector<int>& codes);

}  // namespace quillon::cli
