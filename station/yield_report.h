#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/results_log.h"

namespace quillon {

// What a line supervisor reads at the end of a shift: how many boxes, how
// many good at their first try and in the end, how fast, where the time goes,
// and what fails where. A box is every record of one identity (`box`), on any
// slot, in any run and any log; a record without one is a box of its own.
struct YieldReport {
    // Records of a slot or a series: each is one box's turn there.
    struct Count {
        std::string key;
        std::int64_t ok = 0;
        std::int64_t failed = 0;
    };
    struct Cause {
        std::string cause;       // its key; the message in a log that has none
        std::int64_t count = 0;  // tries that ended so
        std::vector<std::pair<std::string, std::int64_t>> slots;  // where, most first
    };
    struct Box {
        std::string box;
        std::int64_t attempts = 0;
        std::string verdict;  // its last record's
    };
    std::int64_t boxes = 0;
    std::int64_t ok = 0;  // boxes, by the verdict of their last record
    std::int64_t failed = 0;
    std::int64_t cancelled = 0;
    std::int64_t attempts = 0;    // tries of all the boxes
    std::int64_t unreadable = 0;  // lines that were no result record
    double yield = 0;             // ok over ok and failed; 0 without either
    // Boxes whose first record's first try succeeded, over ok and failed.
    double firstPassYield = 0;
    double perHour = 0;           // boxes an hour from the first start to the last end
    PhaseTimes medians;           // of the records that succeeded
    std::vector<Cause> byCause;   // most first
    std::vector<Count> bySlot;    // in the order slots first appear
    std::vector<Count> bySeries;  // in the order series first appear
    std::vector<Box> byBox;       // boxes with an identity tried more than once, most first
};

// The records a report takes; what is empty or none takes any.
struct ReportFilter {
    std::optional<std::int64_t> since;  // started at or after (ParseIsoTime's microseconds)
    std::optional<std::int64_t> until;  // started before
    std::string lot;
    std::string operatorName;
};

// Adds records up one at a time, so that a year of them never sits in
// memory: what it keeps grows with the slots, series, causes and box
// identities it has seen, never with the records.
class YieldTally {
public:
    explicit YieldTally(ReportFilter filter = {});
    ~YieldTally();

    void Add(const BoxRecord& record);
    // A line that was no result record.
    void AddUnreadable();
    YieldReport Report() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The report of records already in memory (a station's own).
YieldReport Summarize(const std::vector<BoxRecord>& records);

// Adds every record of a results log to the tally, line by line; a line
// that is none is counted, never fatal. false when the file cannot be read
// (error says why); it is read as a regular file, without waiting, and no
// line is held past its bound.
bool TallyLog(const std::string& path, YieldTally& tally, std::string& error);

}  // namespace quillon
