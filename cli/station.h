#pragma once

#include <string>
#include <vector>

#include "cli/console_output.h"
#include "cli/terminal_view.h"
#include "engine/packet_series.h"
#include "platform/interrupts.h"

namespace quillon::cli {

struct StationOptions {
    ProgressStyle style = ProgressStyle::Plain;
    int columns = 0;
    bool repeat = false;  // after each verdict, wait for the next box on the line
    int count = 0;        // boxes in all, over every line; 0 for no limit
    std::string logPath;  // where each finished box is appended, one JSON object a box
};

// Updates the boxes on several lines at once (or box after box on one),
// each line running the whole update on its own with the series built once
// for all. Ends when every line has ended (or, with repeat, on an
// interrupt or once count boxes are done); prints one summary row per line
// and returns the exit code of them all.
int RunStation(const FlashConfig& config, const std::vector<std::string>& devices,
               const PacketSeries& series, const StationOptions& options, ConsoleOutput& output,
               InterruptWatch& interrupts);

}  // namespace quillon::cli
