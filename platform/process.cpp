#include "platform/process.h"

namespace quillon {

std::string CommandResult::Outcome() const {
    if (!started) {
        return "could not start: " + error;
    }
    if (timedOut) {
        return "ran past its time limit and was ended";
    }
    if (stopped) {
        return "was ended by a stop request";
    }
    if (signal != 0) {
        return "was killed by signal " + std::to_string(signal);
    }
    return "exited with " + std::to_string(exitCode);
}

}  // namespace quillon
