// The metrics served with prometheus-cpp: its registry holds the counters,
// the histograms and the build's facts; the slots' states and failures in a
// row are kept in atomics of our own and made into samples only when a
// scrape asks, so that a slot that changes state never takes a lock.
#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "platform/tcp_knock.h"
#include "station/printable_text.h"
#include "station/results_log.h"
#include "station/station_metrics.h"

namespace quillon {

namespace {

using prometheus::Counter;
using prometheus::Family;
using prometheus::Gauge;
using prometheus::Histogram;

// Seconds: a download of a few KiB at 115200 baud to a long wait for the
// operator.
const Histogram::BucketBoundaries kPhaseBuckets = {0.5, 1,  2,   5,   10,  20,
                                                   30,  60, 120, 300, 600, 1800};

// Prometheus takes UTF-8 only: a name in another encoding would fail the
// whole scrape.
std::string LabelValue(const std::string& text) {
    return Printable(text);
}

prometheus::ClientMetric GaugeSample(std::vector<prometheus::ClientMetric::Label> labels,
                                     double value) {
    prometheus::ClientMetric sample;
    sample.label = std::move(labels);
    sample.gauge.value = value;
    return sample;
}

// Each slot's state and its boxes failed in a row, one atomic each.
class SlotGauges : public prometheus::Collectable {
public:
    SlotGauges(const std::string& station, const std::vector<std::string>& slots)
        : m_station(LabelValue(station)), m_states(slots.size()), m_failedInRow(slots.size()) {
        // Two samples of one label set would spoil the scrape: a name given
        // twice is told apart by the slot's place.
        std::set<std::string> taken;
        for (std::size_t index = 0; index < slots.size(); ++index) {
            std::string name = LabelValue(slots[index]);
            if (!taken.insert(name).second) {
                name += " (slot " + std::to_string(index + 1) + ")";
            }
            m_slots.push_back(name);
        }
    }

    void SetState(std::size_t slot, SlotActivity activity) {
        if (slot < m_states.size()) {
            m_states[slot].store(static_cast<unsigned>(activity), std::memory_order_relaxed);
        }
    }
    void BoxEnded(std::size_t slot, const std::string& verdict) {
        if (verdict == "ok") {
            m_failedInRow[slot].store(0, std::memory_order_relaxed);
        } else if (verdict == "failed") {
            m_failedInRow[slot].fetch_add(1, std::memory_order_relaxed);
        }
    }

    std::vector<prometheus::MetricFamily> Collect() const override {
        prometheus::MetricFamily states{"quillon_slot_state",
                                        "1 for what the slot is doing now, 0 for the other states",
                                        prometheus::MetricType::Gauge,
                                        {}};
        prometheus::MetricFamily failed{"quillon_slot_failed_in_row",
                                        "Boxes failed in a row on the slot since its last good one",
                                        prometheus::MetricType::Gauge,
                                        {}};
        for (std::size_t slot = 0; slot < m_slots.size(); ++slot) {
            unsigned now = m_states[slot].load(std::memory_order_relaxed);
            for (unsigned state = 0; state < kSlotActivities; ++state) {
                const char* name = SlotActivityName(static_cast<SlotActivity>(state));
                states.metric.push_back(
                    GaugeSample({{"station", m_station}, {"slot", m_slots[slot]}, {"state", name}},
                                state == now ? 1 : 0));
            }
            failed.metric.push_back(
                GaugeSample({{"station", m_station}, {"slot", m_slots[slot]}},
                            m_failedInRow[slot].load(std::memory_order_relaxed)));
        }
        return {std::move(states), std::move(failed)};
    }

private:
    std::string m_station;
    std::vector<std::string> m_slots;
    std::vector<std::atomic<unsigned>> m_states;  // a SlotActivity each
    std::vector<std::atomic<long>> m_failedInRow;
};

// How a try ended: the last one as its record says, an earlier one by its
// cause (it was tried again, so it did not succeed).
std::pair<std::string, std::string> TryEnd(const BoxRecord& record, std::size_t index) {
    if (record.tries.empty() || index + 1 == record.tries.size()) {
        return {record.verdict, record.cause};
    }
    const std::string& cause = record.tries[index].cause;
    return {cause.empty()                         ? "ok"
            : cause == CauseKey(Cause::Cancelled) ? "cancelled"
                                                  : "failed",
            cause};
}

}  // namespace

class StationMetrics::Exporter {
public:
    Exporter(const std::string& station, const std::vector<std::string>& slots,
             const std::string& version)
        : m_registry(std::make_shared<prometheus::Registry>()),
          m_slotGauges(std::make_shared<SlotGauges>(station, slots)),
          m_station{{"station", LabelValue(station)}},
          m_version(LabelValue(version)),
          m_boxes(Register(prometheus::BuildCounter(), "quillon_boxes_total",
                           "Boxes ended, by the verdict and cause of their last try")),
          m_attempts(Register(prometheus::BuildCounter(), "quillon_attempts_total",
                              "Tries of boxes, by their verdict and cause")),
          m_firstPass(Register(prometheus::BuildCounter(), "quillon_boxes_first_pass_total",
                               "Boxes that succeeded at their first try")),
          m_phases(Register(prometheus::BuildHistogram(), "quillon_phase_seconds",
                            "Seconds of each step of a good box: wait, download, erase, burn")),
          m_unwritten(Register(prometheus::BuildCounter(), "quillon_records_unwritten_total",
                               "Records that the results log could not take")
                          .Add({})),
          m_buildInfo(Register(prometheus::BuildGauge(), "quillon_build_info",
                               "1, labelled with the version and the series identity")) {
        for (std::size_t index = 0; index < slots.size(); ++index) {
            std::string slot = LabelValue(slots[index]);
            m_slotIndex.emplace(slots[index], index);
            // Present from the start, so that a rate counts the first box.
            m_boxes.Add({{"slot", slot}, {"verdict", "ok"}, {"cause", ""}});
            m_attempts.Add({{"slot", slot}, {"verdict", "ok"}, {"cause", ""}});
            m_firstPass.Add({{"slot", slot}});
        }
        SetSeries("");
    }

    // The server looks at a request to stop between polls of its listener,
    // two seconds long; knocking ends the wait, so that a station stops at
    // once.
    ~Exporter() {
        if (!m_exposer) {
            return;
        }
        std::atomic<bool> stopped{false};
        std::thread knocker([&] {
            while (!stopped.load()) {
                KnockOnPort(m_endpoint.address, m_endpoint.port);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        m_exposer.reset();
        stopped = true;
        knocker.join();
    }

    bool Listen(const MetricsEndpoint& endpoint, std::string& error) {
        try {
            m_exposer = std::make_unique<prometheus::Exposer>(endpoint.Text(), 2);
        } catch (const std::exception&) {
            error = "cannot serve metrics on " + endpoint.Text() +
                    ": the port is in use, or the address is not one of this host's";
            return false;
        }
        m_exposer->RegisterCollectable(m_registry);
        m_exposer->RegisterCollectable(m_slotGauges);
        m_endpoint = {endpoint.address, Port()};
        return true;
    }

    int Port() const {
        if (!m_exposer) {
            return 0;
        }
        std::vector<int> ports = m_exposer->GetListeningPorts();
        return ports.empty() ? 0 : ports.front();
    }

    void SetSeries(const std::string& series) {
        std::lock_guard lock(m_seriesMutex);
        if (m_buildGauge && series == m_series) {
            return;
        }
        if (m_buildGauge) {
            m_buildInfo.Remove(m_buildGauge);
        }
        m_series = series;
        m_buildGauge = &m_buildInfo.Add({{"version", m_version}, {"series", LabelValue(series)}});
        m_buildGauge->Set(1);
    }

    void BoxEnded(const BoxRecord& record) {
        std::string slot = LabelValue(record.slot);
        m_boxes.Add({{"slot", slot}, {"verdict", record.verdict}, {"cause", record.cause}})
            .Increment();
        std::size_t tries = std::max<std::size_t>(record.tries.size(), 1);
        for (std::size_t index = 0; index < tries; ++index) {
            auto [verdict, cause] = TryEnd(record, index);
            m_attempts.Add({{"slot", slot}, {"verdict", verdict}, {"cause", cause}}).Increment();
        }
        if (record.verdict == "ok") {
            Observe(slot, record.phases);
            if (record.attempts <= 1 && record.tries.size() <= 1) {
                m_firstPass.Add({{"slot", slot}}).Increment();
            }
        }
        if (auto found = m_slotIndex.find(record.slot); found != m_slotIndex.end()) {
            m_slotGauges->BoxEnded(found->second, record.verdict);
        }
        if (!record.series.empty()) {
            SetSeries(record.series);
        }
    }

    void SlotState(std::size_t slot, SlotActivity activity) {
        m_slotGauges->SetState(slot, activity);
    }

    void RecordUnwritten() { m_unwritten.Increment(); }

private:
    template <typename Metric>
    Family<Metric>& Register(prometheus::detail::Builder<Metric> builder, const char* name,
                             const char* help) {
        return builder.Name(name).Help(help).Labels(m_station).Register(*m_registry);
    }

    void Observe(const std::string& slot, const PhaseTimes& phases) {
        for (auto [phase, seconds] : {std::pair("wait", phases.wait),
                                      {"download", phases.download},
                                      {"erase", phases.erase},
                                      {"burn", phases.burn}}) {
            m_phases.Add({{"slot", slot}, {"phase", phase}}, kPhaseBuckets).Observe(seconds);
        }
    }

    std::shared_ptr<prometheus::Registry> m_registry;
    std::shared_ptr<SlotGauges> m_slotGauges;
    prometheus::Labels m_station;
    std::string m_version;
    std::unordered_map<std::string, std::size_t> m_slotIndex;  // by the name records carry
    Family<Counter>& m_boxes;
    Family<Counter>& m_attempts;
    Family<Counter>& m_firstPass;
    Family<Histogram>& m_phases;
    Counter& m_unwritten;
    Family<Gauge>& m_buildInfo;
    std::mutex m_seriesMutex;
    std::string m_series;
    Gauge* m_buildGauge = nullptr;
    MetricsEndpoint m_endpoint;  // as bound: a port asked as 0 is the one given
    // Last, so that it stops serving before what it serves goes.
    std::unique_ptr<prometheus::Exposer> m_exposer;
};

bool StationMetricsBuilt() {
    return true;
}

StationMetrics::StationMetrics(const std::string& station, const std::vector<std::string>& slots,
                               const std::string& version)
    : m_exporter(std::make_unique<Exporter>(station, slots, version)) {}

StationMetrics::~StationMetrics() = default;

bool StationMetrics::Listen(const MetricsEndpoint& endpoint, std::string& error) {
    return m_exporter->Listen(endpoint, error);
}

int StationMetrics::Port() const {
    return m_exporter->Port();
}

void StationMetrics::SetSeries(const std::string& series) {
    m_exporter->SetSeries(series);
}

void StationMetrics::BoxEnded(const BoxRecord& record) {
    m_exporter->BoxEnded(record);
}

void StationMetrics::SlotState(std::size_t slot, SlotActivity activity) {
    m_exporter->SlotState(slot, activity);
}

void StationMetrics::RecordUnwritten() {
    m_exporter->RecordUnwritten();
}

}  // namespace quillon
