#include "station/yield_report.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>

#include "platform/file.h"

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

YieldTally::YieldTally(std::string since, std::string until)
    : m_since(std::move(since)), m_until(std::move(until)) {}

void YieldTally::Add(const BoxRecord& record) {
    // ISO 8601 in UTC sorts as text, and a date before its times.
    if ((!m_since.empty() && record.start < m_since) ||
        (!m_until.empty() && record.start >= m_until)) {
        return;
    }
    ++m_report.boxes;
    double start = EpochSeconds(record.start);
    double end = EpochSeconds(record.end);
    m_first = m_first == 0 || (start > 0 && start < m_first) ? start : m_first;
    m_last = std::max(m_last, end);
    if (record.verdict == "cancelled") {
        ++m_report.cancelled;
        return;
    }
    bool ok = record.verdict == "ok";
    ++(ok ? m_report.ok : m_report.failed);
    YieldReport::Count& slot = Entry(m_report.bySlot, record.slot);
    YieldReport::Count& series = Entry(m_report.bySeries, record.series);
    ++(ok ? slot.ok : slot.failed);
    ++(ok ? series.ok : series.failed);
    if (ok) {
        AddPhases(record, m_phases);
    } else {
        ++Entry(m_report.byCause, record.message).failed;
    }
}

YieldReport YieldTally::Report() const {
    YieldReport report = m_report;
    if (report.ok + report.failed > 0) {
        report.yield = static_cast<double>(report.ok) / (report.ok + report.failed);
    }
    if (m_last > m_first && m_first > 0) {
        report.perHour = report.boxes * 3600.0 / (m_last - m_first);
    }
    report.medians = {Median(m_phases[0]), Median(m_phases[1]), Median(m_phases[2]),
                      Median(m_phases[3])};
    std::stable_sort(report.byCause.begin(), report.byCause.end(),
                     [](const auto& a, const auto& b) { return a.failed > b.failed; });
    return report;
}

YieldReport Summarize(const std::vector<BoxRecord>& records) {
    YieldTally tally;
    for (const BoxRecord& record : records) {
        tally.Add(record);
    }
    return tally.Report();
}

bool TallyLog(const std::string& path, YieldTally& tally, std::string& error) {
    TextFile log;
    if (!log.Open(path, File::Mode::ReadExisting)) {
        error = "cannot read " + path + ": " + OpenErrorText(log.LastOpenError());
        return false;
    }
    try {
        std::string line;
        while (log.ReadLine(line)) {
            std::optional<BoxRecord> record;
            if (!log.LineTooLong() && !line.empty()) {
                record = ParseRecordLine(line);
            }
            if (record) {
                tally.Add(*record);
            } else if (!line.empty()) {
                tally.AddUnreadable();
            }
        }
    } catch (const FileError& failure) {
        error = failure.what();
        return false;
    }
    return true;
}

}  // namespace quillon
