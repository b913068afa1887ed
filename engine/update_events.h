#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace quillon {

// Message box types of the window message box.
constexpr unsigned MB_ICONHAND_OK = 0x10;         // stop icon
constexpr unsigned MB_ICONEXCLAMATION_OK = 0x30;  // exclamation icon

// How an update ended; the command line turns it into its exit code.
enum class UpdateOutcome : unsigned {
    Success = 0,
    PortOpenFailed,      // "Failed to open serial port!"
    BadInput,            // bus file, build or execute command could not be made
    ConnectionFailed,    // the box rejected a file, did not answer, or the line failed
    BurnTimedOut,        // after the execute command: the box fell silent, or the line was lost
    BoxReportedFailure,  // the box reported 0x0F
    Cancelled,           // a stop was requested
};

// Why an update ended as it did, decided where the fault is seen and
// carried as a value beside the caption and the message; each has a stable
// snake_case key (CauseKey), listed in docs/results-log.md.
enum class Cause {
    None,                // it succeeded
    RecordRejected,      // the box answered a record with 0x11
    NoReply,             // no reply to a record within its time
    LineLost,            // the device went, or a read or write on it failed, before the
                         // execute command
    LineLostErasing,     // the same after the execute command, before the burn began
    LineLostBurning,     // the same while the box burned
    NoBootLoader,        // no boot loader within the wait's limit
    SilentErasing,       // the box fell silent while erasing
    SilentBurning,       // the box fell silent while burning
    LineNoise,           // bytes kept coming, but no report
    BoxReportedFailure,  // the box reported 0x0F
    Cancelled,           // a stop was requested (a signal, a closed window)
    PortOpenFailed,      // the port would not open, or a setting it needs is unusable
    BootFolder,          // the boot folder's files could not be made into packet files
    BootFolderInUse,     // another update holds the boot folder
    PacketFileLost,      // a packet file could not be read while it was sent
    SeriesMismatch,      // the series is not the one expected, or changed since it was
    ResetCommandFailed,  // the reset command failed or ran past its limit
    BoxIdFailed,         // the box identity command failed or printed nothing
};

// Why an update cannot go on, decided where that is seen.
struct Failure {
    Cause cause = Cause::None;
    std::string reason;  // one line of words; a hint may follow on lines of its own
};

// "record_rejected", ...; "" for None.
const char* CauseKey(Cause cause);
// The cause of a key; None for one no version of the tool wrote.
Cause CauseOfKey(const std::string& key);

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
    // Why it ended so: a key, and in words (the record, the answer byte, the
    // phase, the system's error), one line, always set for an update that did
    // not succeed; a hint that helps may follow on lines of its own.
    Cause cause = Cause::None;
    std::string reason;
    // Bytes the box received, the execute command included.
    std::uint64_t bytes = 0;
    double seconds = 0;
    // The identity of the series built: SHA-256 in hexadecimal of the
    // records before the execute command; empty when none was built.
    std::string series;
    UpdatePhase reached = UpdatePhase::Starting;
    // The device was not there, or went away (unplugged, hung up).
    bool lineGone = false;
};

// What an update tells its face: one event for each thing that happens, in
// the order it happens, on the update's own thread. A face that draws on
// another thread hands them over; what it does with each is its own.

// The phase the update has come to, told just before the status text that
// shows it.
struct PhaseEvent {
    UpdatePhase phase;
};
// The status line's text, as the worker words it.
struct StatusEvent {
    std::string text;
};
// Whether the status text blinks (while the box's boot loader is awaited).
struct BlinkEvent {
    bool on;
};
// The progress bar, 0 to 100.
struct ProgressEvent {
    int position;
};
// Bytes of the series written to the port, of which inFlight cannot have
// crossed the line yet; fileDone once the box has answered a file.
struct BytesEvent {
    std::uint64_t sent = 0;
    std::uint64_t inFlight = 0;
    std::uint64_t total = 0;
    bool fileDone = false;
};
// What the inputs hold that the box may not expect; the update goes on.
struct WarningEvent {
    std::string text;
};
// The series is built (or was, beforehand): its identity.
struct SeriesEvent {
    std::string identity;
};
// The ending message, as a message box shows it: the application's own
// (its title as caption, exclamation icon), or a window box of the given
// caption and type; with why it ended. A face that shows it in a box
// returns once the box is closed: the update waits for that.
struct EndingEvent {
    bool application = false;
    std::string caption;
    std::string message;
    unsigned type = 0;
    Cause cause = Cause::None;
    std::string reason;
};
// The end as values, once the update has let go of its port and files: the
// last event of an update, also of one that was cancelled.
struct FinishedEvent {
    UpdateResult result;
};

using UpdateEvent = std::variant<PhaseEvent, StatusEvent, BlinkEvent, ProgressEvent, BytesEvent,
                                 WarningEvent, SeriesEvent, EndingEvent, FinishedEvent>;

}  // namespace quillon
