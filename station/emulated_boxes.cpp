#include "station/emulated_boxes.h"

namespace quillon {

EmulatedBoxes::~EmulatedBoxes() {
    for (auto& box : m_boxes) {
        box->Stop();
    }
}

bool EmulatedBoxes::Start(int count, sim::BoxOptions options, int baud, std::string& error) {
    if (options.baud == 0) {
        options.baud = baud;
    }
    for (int i = 0; i < count; ++i) {
        auto box = std::make_unique<sim::BoxEmulator>(options);
        if (!box->OpenPty(&error)) {
            return false;
        }
        m_devices.push_back(box->DevicePath());
        box->Start();
        m_boxes.push_back(std::move(box));
    }
    return true;
}

}  // namespace quillon
