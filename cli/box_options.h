#pragma once

#include <CLI/CLI.hpp>

#include "sim/box_emulator.h"

namespace quillon::cli {

// The emulator's faults and timings as options, shared by `box` and
// `flash --simulate`. The baud rate is left to each command.
void AddBoxFaultOptions(CLI::App* command, sim::BoxOptions& options);

}  // namespace quillon::cli
