#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/update_events.h"
#include "engine/update_request.h"

namespace quillon {

// What an update's series will be: measured from the inputs, not written.
struct SeriesFacts {
    std::uint32_t files = 0;  // the main series, the handshake file included
    std::uint64_t bytes = 0;
    std::string identity;  // SHA-256 of files 1 to files, as the box receives them
    std::vector<std::string> warnings;
};

// How an update that never began would have ended.
struct Refusal {
    UpdateOutcome outcome = UpdateOutcome::BadInput;
    std::string message;  // the application box's text
    std::string reason;
    Cause cause = Cause::BootFolder;
};

// Checks the inputs before the port opens, so that what the update would
// find wrong only after the box was reset ends the run at once: a working
// value the settings gave wrongly, a boot folder that is missing or not
// writable, a bus or upload list that cannot be read or made into records,
// a packet name that cannot be made fresh.
std::optional<Refusal> CheckInputs(const UpdateRequest& request, SeriesFacts& facts);

// A series that is not the one expected, before any port opens.
std::optional<Refusal> CheckExpectedSeries(const std::string& identity,
                                           const std::string& expected);

// "Using /dev/ttyUSB0 at 115200 baud, boot folder /srv/boot/ (7 packet
// files, 39.2 KiB, series 3fa2c1d0be47)".
std::string UsingLine(const std::string& device, const UpdateRequest& request,
                      const SeriesFacts& facts);

// ", USB latency timer 16 ms, set to 1 ms while the port is open" when a
// device's adapter holds replies back longer than that; else empty.
std::string LatencyNote(const std::vector<std::string>& devices);

// "512 bytes", "39.2 KiB", "64.0 MiB".
std::string SizeText(std::uint64_t bytes);

}  // namespace quillon
