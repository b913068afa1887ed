#include "cli/box_options.h"

#include "cli/option_checks.h"

namespace quillon::cli {

namespace {

// Milliseconds on the command line, a duration in the options.
void AddMilliseconds(CLI::App* command, const std::string& name, std::chrono::milliseconds& value,
                     const std::string& help) {
    command
        ->add_option_function<int>(
            name, [&value](int ms) { value = std::chrono::milliseconds(ms); }, help)
        ->check(WholeNumberFrom(0))
        ->default_str(std::to_string(value.count()));
}

}  // namespace

void AddBoxFaultOptions(CLI::App* command, sim::BoxOptions& options) {
    const std::string group = "Box emulator";
    command
        ->add_option("--reject-record", options.rejectRecord, "Answer record K (1-based) with 0x11")
        ->check(WholeNumberFrom(0))
        ->group(group);
    command->add_option("--silent-record", options.silentRecord, "Give no reply to record K")
        ->check(WholeNumberFrom(0))
        ->group(group);
    command
        ->add_flag("--no-handshake-verdict", options.noHandshakeVerdict,
                   "Give no reply to record 1")
        ->group(group);
    command
        ->add_flag("--silent-after-exec", options.silentAfterExec,
                   "Never report erasing and burning")
        ->group(group);
    command
        ->add_flag("--report-failure", options.reportFailure,
                   "End with a failure report (0x0F 0x0F)")
        ->group(group);
    command->add_option("--noise", options.noiseBytes, "Noise bytes before each reply and report")
        ->check(WholeNumber(0, 1000))
        ->group(group);
    command->add_flag("--partial-frames", options.partialFrames, "Cut some progress reports short")
        ->group(group);
    command
        ->add_option("--faulty-sessions", options.faultySessions,
                     "Play the faults in the first K updates only, then be a good box (0: in "
                     "every one)")
        ->check(WholeNumberFrom(0))
        ->group(group);
    command
        ->add_option("--hang-up-after", options.hangUpAfterRecord, "Close the line after record K")
        ->check(WholeNumberFrom(0))
        ->group(group);
    command->add_option("--sector-size", options.bytesPerSector, "Bytes per erased sector")
        ->check(WholeNumberFrom(1))
        ->capture_default_str()
        ->group(group);
    AddMilliseconds(command, "--erase-ms", options.eraseTime, "Time the whole erase takes");
    AddMilliseconds(command, "--burn-ms", options.burnTime, "Time the whole burn takes");
    command->get_option("--erase-ms")->group(group);
    command->get_option("--burn-ms")->group(group);
    command->add_option("--dump", options.dumpFolder, "Write each record received to this folder")
        ->check(CLI::ExistingDirectory)
        ->group(group);
    command
        ->add_option("--wait-reset", options.waitResetFile,
                     "Stay silent, as a box without power, until a line naming the box's device "
                     "appears in FILE (once for each update): what a reset command writes")
        ->group(group);
}

}  // namespace quillon::cli
