#include "station/yield_report.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace quillon {

namespace {

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

YieldReport::Count& Entry(std::vector<YieldReport::Count>& counts, const std::string& key) {
    auto found = std::find_if(counts.begin(), counts.end(),
                              [&key](const YieldReport::Count& count) { return count.key == key; });
    if (found != counts.end()) {
        return *found;
    }
    counts.push_back({key, 0, 0});
    return counts.back();
}

// Seconds since the epoch of "2026-12-09T01:02:03.456Z"; 0 when it is none.
double EpochSeconds(const std::string& iso) {
    std::tm parts{};
    std::istringstream in(iso);
    in >> std::get_time(&parts, "%Y-%m-%dT%H:%M:%S");
    if (in.fail()) {
        return 0;
    }
    double fraction = 0;
    if (in.peek() == '.') {
        in >> fraction;
    }
#ifdef _WIN32
    return static_cast<double>(_mkgmtime(&parts)) + fraction;
#else
    return static_cast<double>(timegm(&parts)) + fraction;
#endif
}

void AddPhases(const BoxRecord& record, std::vector<double> (&phases)[4]) {
    phases[0].push_back(record.phases.wait);
    phases[1].push_back(record.phases.download);
    phases[2].push_back(record.phases.erase);
    phases[3].push_back(record.phases.burn);
}

}  // namespace

YieldReport Summarize(const std::vector<BoxRecord>& records, int unreadable,
                      const std::string& since, const std::string& until) {
    YieldReport report;
    report.unreadable = unreadable;
    std::vector<double> phases[4];
    double first = 0;
    double last = 0;
    for (const BoxRecord& record : records) {
        // ISO 8601 in UTC sorts as text.
        if ((!since.empty() && record.start < since) || (!until.empty() && record.start >= until)) {
            continue;
        }
        ++report.boxes;
        double start = EpochSeconds(record.start);
        double end = EpochSeconds(record.end);
        first = first == 0 || (start > 0 && start < first) ? start : first;
        last = std::max(last, end);
        if (record.verdict == "cancelled") {
            ++report.cancelled;
            continue;
        }
        bool ok = record.verdict == "ok";
        ++(ok ? report.ok : report.failed);
        ++(ok ? Entry(report.bySlot, record.slot).ok : Entry(report.bySlot, record.slot).failed);
        ++(ok ? Entry(report.bySeries, record.series).ok
              : Entry(report.bySeries, record.series).failed);
        if (ok) {
            AddPhases(record, phases);
        } else {
            ++Entry(report.byCause, record.message).failed;
        }
    }
    if (report.ok + report.failed > 0) {
        report.yield = static_cast<double>(report.ok) / (report.ok + report.failed);
    }
    if (last > first && first > 0) {
        report.perHour = report.boxes * 3600.0 / (last - first);
    }
    report.medians = {Median(phases[0]), Median(phases[1]), Median(phases[2]), Median(phases[3])};
    std::stable_sort(report.byCause.begin(), report.byCause.end(),
                     [](const auto& a, const auto& b) { return a.failed > b.failed; });
    return report;
}

std::vector<BoxRecord> ReadRecords(const std::string& text, int& unreadable) {
    std::vector<BoxRecord> records;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) {
            continue;
        }
        if (auto record = ParseRecordLine(line)) {
            records.push_back(*record);
        } else {
            ++unreadable;
        }
    }
    return records;
}

}  // namespace quillon
