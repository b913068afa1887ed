#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/update_events.h"
#include "station/results_log.h"
#include "station/trace_file.h"

namespace quillon {

struct SlotSpec;
struct StationConfig;

// When each phase of one try began, as its events come.
class TryClock {
public:
    using Clock = std::chrono::steady_clock;

    void Phase(UpdatePhase phase, Clock::time_point now);
    // Since when it waits for the boot loader; none outside that wait.
    Clock::time_point WaitingSince() const { return m_waiting; }
    // Seconds of each phase, up to end; the wait lasts to the end when no
    // box answered.
    PhaseTimes Times(Clock::time_point end) const;

private:
    Clock::time_point m_waiting{};
    Clock::time_point m_answered{};
    Clock::time_point m_executed{};
    Clock::time_point m_burning{};
};

// One try of a box, as it ended.
struct TryEnd {
    UpdateResult result;
    PhaseTimes phases;
    std::string start;  // UTC, ISO 8601
    std::string end;
    bool hadBox = false;  // a boot loader answered
};

// The box on a slot, from its first try to its last.
struct BoxTries {
    std::string identity;
    bool claimed = false;  // counted as one of the run's boxes
    std::vector<TryEnd> tries;
    std::unique_ptr<TraceWriter> trace;  // one a box, when the station keeps them
};

// Who and what a record is of, beside the box's tries.
struct RecordContext {
    const StationConfig& config;
    const SlotSpec& slot;
    std::string seriesMeasured;  // the identity checked before the run
    std::string operatorName;
    std::string lot;
    int signal = 0;  // the interrupt that stopped the station
};

// The box's record: its last try's verdict, cause and phases; each try's
// cause and phases when there was more than one.
BoxRecord MakeBoxRecord(const BoxTries& box, const RecordContext& context);

}  // namespace quillon
