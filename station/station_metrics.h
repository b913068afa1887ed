#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/update_events.h"

namespace quillon {

struct BoxRecord;
struct StationConfig;

// Where a station serves its metrics: an IPv4 address of this host and a
// TCP port.
struct MetricsEndpoint {
    std::string address = "127.0.0.1";  // an exporter has no log-in: loopback unless asked
    int port = 0;                       // 0 (tests only): any free port

    std::string Text() const { return address + ":" + std::to_string(port); }
};

// "[ADDRESS:]PORT" (9464, 127.0.0.1:9464) as an endpoint; none for anything
// else, with error saying what is wanted. name is the option or key, for
// the message.
std::optional<MetricsEndpoint> ParseMetricsEndpoint(const std::string& text,
                                                    const std::string& name, std::string& error);

// Whether this build serves metrics (it does on Linux, with prometheus-cpp).
bool StationMetricsBuilt();

// What a slot is doing, as quillon_slot_state tells it.
enum class SlotActivity { Waiting, Downloading, Erasing, Burning, Held, Paused, AdapterGone };
inline constexpr std::size_t kSlotActivities = 7;
// "waiting", ..., "adapter_gone".
const char* SlotActivityName(SlotActivity activity);
// The activity of an update in this phase: before the box answers it
// waits; the handshake, the build and the execute command count as the
// download.
SlotActivity ActivityOfPhase(UpdatePhase phase);

// A station's metrics in Prometheus' text format on /metrics, fed by the
// station as its slots go. Every call is cheap and never waits for a
// scrape: a slot's state is one atomic store, a box a few counters.
class StationMetrics {
public:
    // slots: the slots' names, in the station's order, as records name them.
    StationMetrics(const std::string& station, const std::vector<std::string>& slots,
                   const std::string& version);
    ~StationMetrics();  // closes the listener
    StationMetrics(const StationMetrics&) = delete;
    StationMetrics& operator=(const StationMetrics&) = delete;

    // Starts serving; false, with error saying why, when it cannot listen
    // there (the port in use, an address that is not this host's).
    bool Listen(const MetricsEndpoint& endpoint, std::string& error);
    // The port it listens on; 0 before Listen.
    int Port() const;

    // The series identity in quillon_build_info, once it is known; a box's
    // record brings it too.
    void SetSeries(const std::string& series);
    // A box's final record, as the results log takes it.
    void BoxEnded(const BoxRecord& record);
    // The slot (its index in the station) is now doing this.
    void SlotState(std::size_t slot, SlotActivity activity);
    // A record that the results log could not take.
    void RecordUnwritten();

private:
    class Exporter;
    std::unique_ptr<Exporter> m_exporter;
};

// The exporter of a station whose configuration asks for one, listening,
// with its slots named as their records will be; none when none is asked
// for (error empty) or when it cannot listen (error says why).
std::unique_ptr<StationMetrics> ServeStationMetrics(const StationConfig& config,
                                                    std::string& error);

}  // namespace quillon
