#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/box_emulator.h"

namespace quillon {

// Boxes of the built-in emulator, each on a pseudo-terminal of its own,
// for a demonstration or a test without hardware: what `--simulate` runs.
class EmulatedBoxes {
public:
    EmulatedBoxes() = default;
    ~EmulatedBoxes();
    EmulatedBoxes(const EmulatedBoxes&) = delete;
    EmulatedBoxes& operator=(const EmulatedBoxes&) = delete;

    // count boxes, keeping the pace of a line at baud unless the options set
    // their own. false: error says why.
    bool Start(int count, sim::BoxOptions options, int baud, std::string& error);
    // The device the tool opens for each.
    const std::vector<std::string>& Devices() const { return m_devices; }

private:
    std::vector<std::unique_ptr<sim::BoxEmulator>> m_boxes;
    std::vector<std::string> m_devices;
};

}  // namespace quillon
