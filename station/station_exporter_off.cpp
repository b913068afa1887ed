// A build without prometheus-cpp (Windows): the station feeds an exporter
// that keeps nothing, and no face offers --metrics.
#include "station/station_metrics.h"

namespace quillon {

class StationMetrics::Exporter {};

bool StationMetricsBuilt() {
    return false;
}

StationMetrics::StationMetrics(const std::string&, const std::vector<std::string>&,
                               const std::string&) {}

StationMetrics::~StationMetrics() = default;

bool StationMetrics::Listen(const MetricsEndpoint&, std::string& error) {
    error = "this build serves no metrics (Linux only)";
    return false;
}

int StationMetrics::Port() const {
    return 0;
}

void StationMetrics::SetSeries(const std::string&) {}

void StationMetrics::BoxEnded(const BoxRecord&) {}

void StationMetrics::SlotState(std::size_t, SlotActivity) {}

void StationMetrics::RecordUnwritten() {}

}  // namespace quillon
