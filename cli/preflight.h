#pragma once

#include <cstdint>
#include <string>

#include "cli/terminal_view.h"

namespace quillon::cli {

// What an update's series will be: measured from the inputs, not written.
struct SeriesFacts {
    std::uint32_t files = 0;  // the main series, the handshake file included
    std::uint64_t bytes = 0;
};

// Checks the inputs before the port opens, so that what the update would
// find wrong only after the box was reset ends the run at once: a boot
// folder that is missing or not writable, a bus or upload list that cannot
// be read or made into records. On failure the view holds the message the
// update would have shown, with the reason; warnings go to the view as well.
bool CheckInputs(const FlashConfig& config, TerminalView& view, SeriesFacts& facts);

// "Using /dev/ttyUSB0 at 115200 baud, boot folder /srv/boot/ (7 packet
// files, 39.2 KiB)".
std::string UsingLine(const std::string& device, int baud, const FlashConfig& config,
                      const SeriesFacts& facts);

}  // namespace quillon::cli
