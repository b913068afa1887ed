#pragma once

#include <optional>
#include <string>

namespace quillon {

class InitFileBuilder;

// The steps that make an update's series, in the order an update takes
// them: the bus step alone (its first file is the handshake), the whole
// build numbered on after it, then the execute command with the start
// address. Every caller (the update, a shared series, the check before an
// update, `pack`) runs them here, so their messages are written once.
enum class SeriesStep { Bus, Build, Exec };

struct StepFailure {
    SeriesStep step = SeriesStep::Bus;
    const char* message = "";  // what the update shows: "Invalid CBUS file (BOOT)!", ...
    std::string reason;        // why, in the system's words
    bool fileError = false;    // a file could not be read or written
};

// Runs one step on the builder; a file the builder cannot read or write
// fails the step too. None when it went through.
std::optional<StepFailure> RunSeriesStep(InitFileBuilder& builder, SeriesStep step);

// The message the update shows when the step fails.
const char* StepMessage(SeriesStep step);

}  // namespace quillon
