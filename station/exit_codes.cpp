#include "station/exit_codes.h"

#include "platform/interrupts.h"

namespace quillon {

const char* const kExitCodeHelp =
    "Exit codes (with several boxes: 0 when every box succeeded, else the code\n"
    "that all failed boxes share, else 7):\n"
    "  0   the box reported success\n"
    "  2   the serial port could not be opened\n"
    "  3   the boot folder's files could not be made into packet files, or another\n"
    "      update uses the folder\n"
    "  4   before the execute command: the box rejected a record or did not answer,\n"
    "      or the line failed; its flash is untouched\n"
    "  5   after it: the box fell silent while erasing or burning, or the line was\n"
    "      lost; its flash may be incomplete\n"
    "  6   the box reported that the update failed; its flash may be incomplete\n"
    "  7   several boxes failed, in different ways (see the summary)\n"
    "  8   the boxes ended, but results could not all be written to the --log file\n"
    "      (they follow on stderr); this wins over 0, 4, 5, 6 and 7\n"
    "  64  the command line was not understood\n"
    "  129 cancelled: the terminal was closed or the session lost (SIGHUP)\n"
    "  130 cancelled: Ctrl+C (SIGINT)\n"
    "  131 cancelled: Ctrl+\\ (SIGQUIT)\n"
    "  143 cancelled: asked to terminate (SIGTERM)\n"
    "A stopped station ends with 128 + the signal whatever its boxes came to.\n"
    "A cancelled update removes its packet files and releases the port before it ends.";

namespace {

constexpr int kSigInt = 2;  // a stop with no signal behind it counts as Ctrl+C

}  // namespace

int ExitCodeOf(UpdateOutcome outcome, int signal) {
    switch (outcome) {
        case UpdateOutcome::Success:
            return kExitSuccess;
        case UpdateOutcome::PortOpenFailed:
            return kExitPortOpen;
        case UpdateOutcome::BadInput:
            return kExitBadInput;
        case UpdateOutcome::ConnectionFailed:
            return kExitConnection;
        case UpdateOutcome::BurnTimedOut:
            return kExitBurnTimeout;
        case UpdateOutcome::BoxReportedFailure:
            return kExitBoxFailure;
        case UpdateOutcome::Cancelled:
            return InterruptWatch::ExitCodeFor(signal != 0 ? signal : kSigInt);
    }
    return kExitConnection;
}

std::string CancelledReason(int signal) {
    switch (signal) {
        case 0:
            return "cancelled: the run was stopped";
        case 1:
            return "cancelled: the terminal was closed or the session lost (SIGHUP)";
        case 2:
            return "cancelled: Ctrl+C (SIGINT)";
        case 3:
            return "cancelled: Ctrl+\\ (SIGQUIT)";
        case 15:
            return "cancelled: asked to terminate (SIGTERM)";
        default:
            return "cancelled by signal " + std::to_string(signal);
    }
}

int CombinedExitCode(const std::vector<int>& codes) {
    int failure = kExitSuccess;
    for (int code : codes) {
        if (code == kExitSuccess) {
            continue;
        }
        if (failure != kExitSuccess && failure != code) {
            return kExitMixed;
        }
        failure = code;
    }
    return failure;
}

}  // namespace quillon
