#include "engine/series_steps.h"

#include "initfiles/init_file_builder.h"
#include "platform/file.h"

namespace quillon {

const char* StepMessage(SeriesStep step) {
    switch (step) {
        case SeriesStep::Bus:
            return "Invalid CBUS file (BOOT)!";
        case SeriesStep::Build:
            return "Invalid input file (BOOT)!";
        case SeriesStep::Exec:
            return "Failed to make init file ";
    }
    return "";
}

std::optional<StepFailure> RunSeriesStep(InitFileBuilder& builder, SeriesStep step) {
    try {
        bool done = step == SeriesStep::Bus     ? builder.WriteBusConfig()
                    : step == SeriesStep::Build ? builder.Build()
                                                : builder.WriteExecCommand();
        if (done) {
            return std::nullopt;
        }
        return StepFailure{step, StepMessage(step), builder.LastFault().words, false};
    } catch (const FileError& error) {
        return StepFailure{step, StepMessage(step), error.what(), true};
    }
}

}  // namespace quillon
