#include "station/yield_report.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "platform/file.h"
#include "station/iso_time.h"

namespace quillon {

namespace {

// Values under keys in the order the keys first come, each found at once;
// every key is kept once (its index points into the entries, which a deque
// never moves).
template <typename Value>
class Keyed {
public:
    std::size_t IndexOf(const std::string& key) {
        if (auto found = m_index.find(key); found != m_index.end()) {
            return found->second;
        }
        m_entries.emplace_back(key, Value{});
        m_index.emplace(m_entries.back().first, m_entries.size() - 1);
        return m_entries.size() - 1;
    }
    Value& At(const std::string& key) { return m_entries[IndexOf(key)].second; }
    const std::deque<std::pair<std::string, Value>>& Entries() const { return m_entries; }

private:
    std::deque<std::pair<std::string, Value>> m_entries;
    std::unordered_map<std::string_view, std::size_t> m_index;
};

struct Tally {
    std::int64_t ok = 0;
    std::int64_t failed = 0;
};

// The median of many times in bounded memory: a histogram of milliseconds
// (what the log keeps), exact while it has no more than kBins different
// values; past that, neighbouring bins merge, and the median is then the
// middle of a bin that spans a few milliseconds of a spread of hours.
class MedianSketch {
public:
    void Add(double seconds) {
        auto millis =
            static_cast<std::int64_t>(std::llround(std::clamp(seconds, 0.0, 1e12) * 1000));
        ++m_bins[millis >> m_shift];
        if (m_bins.size() > kBins) {
            Coarsen();
        }
        ++m_count;
    }

    double Median() const {
        if (m_count == 0) {
            return 0;
        }
        std::vector<std::pair<std::int64_t, std::int64_t>> bins(m_bins.begin(), m_bins.end());
        std::sort(bins.begin(), bins.end());
        return (ValueAt(bins, (m_count - 1) / 2) + ValueAt(bins, m_count / 2)) / 2000;
    }

private:
    static constexpr std::size_t kBins = 1 << 15;

    void Coarsen() {
        std::unordered_map<std::int64_t, std::int64_t> wider;
        for (const auto& [bin, count] : m_bins) {
            wider[bin >> 1] += count;
        }
        m_bins = std::move(wider);
        ++m_shift;
    }

    // Milliseconds of the value of that rank, the middle of its bin.
    double ValueAt(const std::vector<std::pair<std::int64_t, std::int64_t>>& bins,
                   std::int64_t rank) const {
        for (const auto& [bin, count] : bins) {
            if (rank < count) {
                std::int64_t width = std::int64_t{1} << m_shift;
                return static_cast<double>(bin * width) + static_cast<double>(width - 1) / 2;
            }
            rank -= count;
        }
        return 0;
    }

    std::unordered_map<std::int64_t, std::int64_t> m_bins;
    int m_shift = 0;
    std::int64_t m_count = 0;
};

enum class Verdict { Ok, Failed, Cancelled };

Verdict VerdictOf(const std::string& verdict) {
    return verdict == "ok"          ? Verdict::Ok
           : verdict == "cancelled" ? Verdict::Cancelled
                                    : Verdict::Failed;
}

const char* VerdictName(Verdict verdict) {
    return verdict == Verdict::Ok ? "ok" : verdict == Verdict::Cancelled ? "cancelled" : "failed";
}

// One box so far: its first and its last record by their start.
struct BoxState {
    std::int64_t firstStart = 0;
    std::int64_t lastStart = 0;
    std::int64_t attempts = 0;
    bool firstPassed = false;
    Verdict verdict = Verdict::Failed;
    std::size_t order = 0;  // when it first came
};

template <typename Value, typename Count>
void SortMostFirst(std::vector<Value>& values, Count count) {
    std::stable_sort(values.begin(), values.end(),
                     [&count](const Value& a, const Value& b) { return count(a) > count(b); });
}

}  // namespace

struct YieldTally::State {
    ReportFilter filter;
    std::unordered_map<std::string, BoxState> boxes;
    YieldReport counted;  // boxes without an identity, and the counts of records
    std::int64_t firstPassed = 0;
    Keyed<std::int64_t> causes;
    Keyed<Tally> slots;  // every slot seen, those of cancelled boxes too
    Keyed<Tally> series;
    // Failed tries by cause and slot: their indexes, cause above, one map
    // for all, which costs far less than a map a cause.
    std::unordered_map<std::uint64_t, std::int64_t> causeSlots;
    MedianSketch phases[4];
    std::optional<std::int64_t> first;
    std::optional<std::int64_t> last;

    bool Takes(const BoxRecord& record, std::int64_t start) const {
        return (!filter.since || start >= *filter.since) &&
               (!filter.until || start < *filter.until) &&
               (filter.lot.empty() || record.lot == filter.lot) &&
               (filter.operatorName.empty() || record.operatorName == filter.operatorName);
    }

    static void CountBox(Verdict verdict, bool firstPassed, YieldReport& report,
                         std::int64_t& passed) {
        ++report.boxes;
        ++(verdict == Verdict::Ok       ? report.ok
           : verdict == Verdict::Failed ? report.failed
                                        : report.cancelled);
        passed += firstPassed && verdict != Verdict::Cancelled ? 1 : 0;
    }

    void AddBox(const BoxRecord& record, std::int64_t start) {
        Verdict verdict = VerdictOf(record.verdict);
        bool passed = record.attempts == 1 && verdict == Verdict::Ok;
        if (record.box.empty()) {
            CountBox(verdict, passed, counted, firstPassed);
            return;
        }
        auto [found, added] = boxes.try_emplace(record.box);
        BoxState& box = found->second;
        if (added) {
            box = {start, start, 0, passed, verdict, boxes.size()};
        }
        if (start < box.firstStart) {
            box.firstStart = start;
            box.firstPassed = passed;
        }
        if (start >= box.lastStart) {
            box.lastStart = start;
            box.verdict = verdict;
        }
        box.attempts += record.attempts;
    }

    void AddCause(const std::string& cause, const std::string& slot) {
        std::uint64_t index = causes.IndexOf(cause);
        ++causes.At(cause);
        ++causeSlots[index << 32 | slots.IndexOf(slot)];
    }

    // The causes in the order they came, each with its slots, most first and
    // then in the order they came.
    std::vector<YieldReport::Cause> CausesBySlot() const {
        std::vector<std::tuple<std::uint64_t, std::int64_t, std::uint64_t>> pairs;
        for (const auto& [pair, count] : causeSlots) {
            pairs.emplace_back(pair >> 32, -count, pair & 0xFFFFFFFF);
        }
        std::sort(pairs.begin(), pairs.end());
        std::vector<YieldReport::Cause> list;
        for (const auto& [cause, count] : causes.Entries()) {
            list.push_back({cause, count, {}});
        }
        for (const auto& [cause, negative, slot] : pairs) {
            list[cause].slots.emplace_back(slots.Entries()[slot].first, -negative);
        }
        return list;
    }

    // Every try that failed, each under its cause; a log without causes
    // gives its message instead.
    void AddCauses(const BoxRecord& record) {
        for (const AttemptRecord& attempt : record.tries) {
            if (!attempt.cause.empty() && attempt.cause != "cancelled") {
                AddCause(attempt.cause, record.slot);
            }
        }
        if (record.tries.empty() && VerdictOf(record.verdict) == Verdict::Failed) {
            AddCause(record.cause.empty() ? record.message : record.cause, record.slot);
        }
    }

    void AddTurn(const BoxRecord& record) {
        Verdict verdict = VerdictOf(record.verdict);
        AddCauses(record);
        if (verdict == Verdict::Cancelled) {
            return;
        }
        bool ok = verdict == Verdict::Ok;
        for (Tally* tally : {&slots.At(record.slot), &series.At(record.series)}) {
            ++(ok ? tally->ok : tally->failed);
        }
        if (ok) {
            const PhaseTimes& times = record.phases;
            for (auto [sketch, seconds] : {std::pair{&phases[0], times.wait},
                                           {&phases[1], times.download},
                                           {&phases[2], times.erase},
                                           {&phases[3], times.burn}}) {
                sketch->Add(seconds);
            }
        }
    }
};

YieldTally::YieldTally(ReportFilter filter) : m_state(std::make_unique<State>()) {
    m_state->filter = std::move(filter);
}

YieldTally::~YieldTally() = default;

void YieldTally::AddUnreadable() {
    ++m_state->counted.unreadable;
}

void YieldTally::Add(const BoxRecord& record) {
    State& state = *m_state;
    // A record that cannot be placed in time cannot be told first or last.
    std::optional<std::int64_t> start = ParseIsoTime(record.start);
    if (!start) {
        AddUnreadable();
        return;
    }
    if (!state.Takes(record, *start)) {
        return;
    }
    std::optional<std::int64_t> end = ParseIsoTime(record.end);
    state.first = std::min(state.first.value_or(*start), *start);
    state.last = std::max(state.last.value_or(*start), end.value_or(*start));
    state.counted.attempts += record.attempts;
    state.AddBox(record, *start);
    state.AddTurn(record);
}

YieldReport YieldTally::Report() const {
    const State& state = *m_state;
    YieldReport report = state.counted;
    std::int64_t firstPassed = state.firstPassed;
    std::vector<std::pair<std::size_t, YieldReport::Box>> retried;
    for (const auto& [identity, box] : state.boxes) {
        State::CountBox(box.verdict, box.firstPassed, report, firstPassed);
        if (box.attempts > 1) {
            retried.push_back({box.order, {identity, box.attempts, VerdictName(box.verdict)}});
        }
    }
    // Most tries first, then in the order the boxes came.
    std::sort(retried.begin(), retried.end(), [](const auto& a, const auto& b) {
        return std::pair(-a.second.attempts, a.first) < std::pair(-b.second.attempts, b.first);
    });
    for (auto& [order, box] : retried) {
        report.byBox.push_back(std::move(box));
    }
    if (std::int64_t decided = report.ok + report.failed; decided > 0) {
        report.yield = static_cast<double>(report.ok) / static_cast<double>(decided);
        report.firstPassYield = static_cast<double>(firstPassed) / static_cast<double>(decided);
    }
    if (state.first && *state.last > *state.first) {
        report.perHour = static_cast<double>(report.boxes) * 3600e6 /
                         static_cast<double>(*state.last - *state.first);
    }
    report.medians = {state.phases[0].Median(), state.phases[1].Median(), state.phases[2].Median(),
                      state.phases[3].Median()};
    report.byCause = state.CausesBySlot();
    SortMostFirst(report.byCause, [](const YieldReport::Cause& cause) { return cause.count; });
    for (auto [keyed, counts] :
         {std::pair{&state.slots, &report.bySlot}, {&state.series, &report.bySeries}}) {
        for (const auto& [key, tally] : keyed->Entries()) {
            if (tally.ok + tally.failed > 0) {
                counts->push_back({key, tally.ok, tally.failed});
            }
        }
    }
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
        error = "cannot read " + path + ": " + log.OpenFault().words;
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
