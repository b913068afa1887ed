#pragma once

#include <stop_token>

#include "engine/update_view.h"

namespace quillon {

// How an update ended; the command line turns it into its exit code.
enum class UpdateOutcome : unsigned {
    Success = 0,
    PortOpenFailed,      // "Failed to open serial port!"
    BadInput,            // bus file, build or execute command could not be made
    ConnectionFailed,    // the box rejected a file, did not answer, or the line failed
    BurnTimedOut,        // the box fell silent while erasing or burning
    BoxReportedFailure,  // the box reported 0x0F
    Cancelled,           // a stop was requested
};

class PacketSeries;

class UpdateWorker {
public:
    // Runs one whole update against the view. A stop request ends it within
    // about 100 ms, with its packet files deleted and the port released.
    // With a series built beforehand, the update sends that one (several
    // lines or box after box share it) instead of writing its own; every
    // step, text and reply is the same.
    static unsigned Run(UpdateView& view, std::stop_token stop = {},
                        const PacketSeries* series = nullptr);
};

}  // namespace quillon
