#pragma once

#include <optional>
#include <string>

namespace quillon {

// A USB serial adapter holds what it receives until its latency timer runs
// out (16 ms on FTDI's by default) unless its buffer fills: every reply of
// the box would come that much late. While a port is held its timer is set
// to 1 ms where the system lets us, and put back when the port is let go.
// On Windows the driver's own dialog sets it; nothing is done here.
class LatencyTimer {
public:
    // sysfs: where the kernel's device tree is mounted.
    explicit LatencyTimer(std::string sysfs = "/sys");
    ~LatencyTimer();
    LatencyTimer(const LatencyTimer&) = delete;
    LatencyTimer& operator=(const LatencyTimer&) = delete;

    // The device's timer in milliseconds, none where it has none we may set.
    std::optional<int> Current(const std::string& device) const;
    // Sets it to 1 ms when it is more and may be written; true when it was.
    bool Lower(const std::string& device);
    // Puts back what Lower changed.
    void Restore();

private:
    std::string PathFor(const std::string& device) const;

    std::string m_sysfs;
    std::string m_path;  // the timer changed, empty for none
    int m_former = 0;
};

}  // namespace quillon
