#pragma once

#include <cstdint>
#include <string>

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

// Where an update stands. The worker says so as it goes, beside its status
// texts, so that no face has to read the phase out of a text.
enum class UpdatePhase {
    Starting,   // before the port is open
    Waiting,    // for the boot loader: "Waiting connection,Press reset button..."
    Preparing,  // the handshake file and the build: "Now preparing..."
    Download,   // "(step 1/3) Downloading ..."
    Execute,    // the execute command: "Download finish. now preparing burning !"
    Erase,      // "(step 2/3) Erasing ..."
    Burn,       // "(step 3/3) Burning ..."
    Ended,      // "Burning finished!"
};

// The name scripts see: "wait", "prepare", "download", "execute", "erase",
// "burn", "end"; "other" before the first.
const char* PhaseName(UpdatePhase phase);

// The title of the application's own message box, as the command line and
// the logs give it (the window shows its program's name).
constexpr const char* kApplicationTitle = "quillon";

// One update's end, as values.
struct UpdateResult {
    UpdateOutcome outcome = UpdateOutcome::Cancelled;
    // The ending message box; none for a cancelled update.
    std::string caption;
    std::string message;
    // Why it failed, in the system's words and with a hint, when known.
    std::string reason;
    // Bytes of the series written to the box.
    std::uint64_t bytes = 0;
    double seconds = 0;
    // The identity of the series built: SHA-256 in hexadecimal of the
    // records before the execute command; empty when none was built.
    std::string series;
    UpdatePhase reached = UpdatePhase::Starting;
    // The device was not there, or went away (unplugged, hung up).
    bool lineGone = false;
};

}  // namespace quillon
