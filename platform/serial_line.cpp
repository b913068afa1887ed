#include "platform/serial_line.h"

namespace quillon {

std::string BaudRateProblem(int baud) {
    if (baud >= kLowestBaud && baud <= kHighestBaud) {
        return {};
    }
    return "baud rate " + std::to_string(baud) + " is outside " + std::to_string(kLowestBaud) +
           " to " + std::to_string(kHighestBaud);
}

}  // namespace quillon
