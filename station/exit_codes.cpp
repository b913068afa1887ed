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
    "  4   the box rejected a file or did not answer, or the line failed\n"
    "  5   the box fell silent while erasing or burning\n"
    "  6   the box reported that the update failed\n"
    "  7   several boxes failed, in different ways (see the summary)\n"
    "  8   the boxes ended, but results could not all be written to the --log file\n"
    "      (they follow on stderr); this wins over 0, 4, 5, 6 and 7\n"
    "  64  the command line was not understood\n"
    "  129 cancelled: the terminal was closed or the session lost (SIGHUP)\n"
    "  130 cancelled: Ctrl+C (SIGINT)\n"
    "  131 cancelled: Ctrl+\\ (SIGQUIT)\n"
    "  143 cancelled: asked to terminate (SIGTERM)\n"
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
