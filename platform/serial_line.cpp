#include "platform/serial_line.h"

namespace quillon {

std::string BaudRateProblem(int baud) {
    if (baud >= kLowestBaud && baud <= kHighestBaud) {
        return {};
    }
    return "baud rate " + std::to_string(baud) + " is outside " + std::to_string(kLowestBaud) +
           " to " + std::to_string(kHighestBaud);
}

// The same on every system: the waker is each system's own.
void SerialLine::SetStopToken(std::stop_token token) {
    m_stopCallback.reset();
    m_stop = std::move(token);
    if (m_wakeFd != kNoHandle) {
        m_stopCallback.emplace(m_stop, Waker{m_wakeFd});
    }
}

}  // namespace quillon
