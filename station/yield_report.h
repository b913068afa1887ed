#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/results_log.h"

namespace quillon {

// What a line supervisor reads at the end of a shift: how many boxes, how
// many good, how fast, where the time goes, and what fails where.
struct YieldReport {
    struct Count {
        std::string key;  // a message, a slot or a series
        int ok = 0;
        int failed = 0;
    };
    int boxes = 0;
    int ok = 0;
    int failed = 0;
    int cancelled = 0;
    int unreadable = 0;  // lines that were no result record
    double yield = 0;    // ok over ok and failed; 0 without either
    double perHour = 0;  // boxes an hour from the first start to the last end
    PhaseTimes medians;
    std::vector<Count> byCause;   // failures by message, most first (ok unused)
    std::vector<Count> bySlot;    // in the order slots first appear
    std::vector<Count> bySeries;  // in the order series first appear
};

// Records of the time between since and until (ISO 8601 texts, either may
// be empty), in the order given.
YieldReport Summarize(const std::vector<BoxRecord>& records, int unreadable = 0,
                      const std::string& since = {}, const std::string& until = {});

// Every record of a log's lines; a line that is none is counted, never fatal.
std::vector<BoxRecord> ReadRecords(const std::string& text, int& unreadable);

}  // namespace quillon
