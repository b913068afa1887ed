#include "engine/update_events.h"

#include <algorithm>
#include <cctype>

#include "engine/update_request.h"

namespace quillon {

const char* PhaseName(UpdatePhase phase) {
    switch (phase) {
        case UpdatePhase::Starting:
            return "other";
        case UpdatePhase::Waiting:
            return "wait";
        case UpdatePhase::Preparing:
            return "prepare";
        case UpdatePhase::Download:
            return "download";
        case UpdatePhase::Execute:
            return "execute";
        case UpdatePhase::Erase:
            return "erase";
        case UpdatePhase::Burn:
            return "burn";
        case UpdatePhase::Ended:
            return "end";
    }
    return "other";
}

bool SeriesMatches(const std::string& identity, const std::string& expected) {
    if (expected.empty()) {
        return true;
    }
    return expected.size() <= identity.size() &&
           std::equal(
               expected.begin(), expected.end(), identity.begin(),
               [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace quillon
