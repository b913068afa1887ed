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

// Adds records up one at a time, so that a year of them never sits in
// memory; only those that start between since and until (ISO 8601 texts as
// the log writes them, or their first part: "2026-12-09"; either may be
// empty) count.
class YieldTally {
public:
    YieldTally(std::string since = {}, std::string until = {});
    void Add(const BoxRecord& record);
    // A line that was no result record.
    void AddUnreadable() { ++m_report.unreadable; }
    YieldReport Report() const;

private:
    std::string m_since;
    std::string m_until;
    YieldReport m_report;
    std::vector<double> m_phases[4];
    double m_first = 0;
    double m_last = 0;
};

// The report of records already in memory (a station's own).
YieldReport Summarize(const std::vector<BoxRecord>& records);

// Adds every record of a results log to the tally, line by line; a line
// that is none is counted, never fatal. false when the file cannot be read
// (error says why); it is read as a regular file, without waiting, and no
// line is held past its bound.
bool TallyLog(const std::string& path, YieldTally& tally, std::string& error);

}  // namespace quillon
