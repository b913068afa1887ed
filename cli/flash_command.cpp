#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/app_settings.h"
#include "cli/box_options.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/preflight.h"
#include "cli/terminal_view.h"
#include "cli/trace_writer.h"
#include "engine/update_worker.h"
#include "initfiles/boot_folder.h"
#include "platform/console.h"
#include "platform/interrupts.h"
#include "platform/serial_line.h"
#include "sim/box_emulator.h"

namespace quillon::cli {

namespace {

// Exit codes of `flash`, also listed in its --help.
enum FlashExit : int {
    kExitSuccess = 0,
    kExitUsage = 64,
    kExitPortOpen = 2,
    kExitBadInput = 3,
    kExitConnection = 4,
    kExitBurnTimeout = 5,
    kExitBoxFailure = 6,
};

const char* const kExitCodeHelp =
    "Exit codes:\n"
    "  0   the box reported success\n"
    "  2   the serial port could not be opened\n"
    "  3   the boot folder's files could not be made into packet files, or another\n"
    "      update uses the folder\n"
    "  4   the box rejected a file or did not answer, or the line failed\n"
    "  5   the box fell silent while erasing or burning\n"
    "  6   the box reported that the update failed\n"
    "  64  the command line was not understood\n"
    "  129 cancelled: the terminal was closed or the session lost (SIGHUP)\n"
    "  130 cancelled: Ctrl+C (SIGINT)\n"
    "  131 cancelled: Ctrl+\\ (SIGQUIT)\n"
    "  143 cancelled: asked to terminate (SIGTERM)\n"
    "A cancelled update removes its packet files and releases the port before it ends.";

struct FlashOptions {
    std::string device;
    int port = 0;
    int baud = 0;
    std::string bootFolder;
    bool bootFolderGiven = false;
    std::string startAddress;
    std::string settings;
    std::string project;
    std::string image;
    bool simulate = false;
    sim::BoxOptions box;
    std::string trace;
    std::string progress = "auto";
    double waitTimeout = 0;
};

constexpr int kSigInt = 2;  // a stop with no signal behind it counts as Ctrl+C

int ExitCodeOf(unsigned outcome, int signal) {
    switch (static_cast<UpdateOutcome>(outcome)) {
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

bool ParseAddress(const std::string& text, std::uint32_t& address) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    address = static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
    return true;
}

ProgressStyle StyleOf(const std::string& name) {
    if (name == "human")
        return ProgressStyle::Human;
    if (name == "plain")
        return ProgressStyle::Plain;
    if (name == "jsonl")
        return ProgressStyle::Jsonl;
    // A terminal that cannot move the cursor gets lines, as a pipe does.
    const char* term = std::getenv("TERM");
    bool dumb = term != nullptr && std::string(term) == "dumb";
    return ConsoleIsTerminal(ConsoleStream::Out) && !dumb ? ProgressStyle::Human
                                                          : ProgressStyle::Plain;
}

// The settings file gives the defaults; the options override them.
bool MakeConfig(const FlashOptions& options, FlashConfig& config) {
    AppSettings settings = options.settings.empty()
                               ? AppSettings()
                               : AppSettings(options.settings, AppSettings().ProgramFolder());
    settings.Load();
    config.bootFolder = settings.m_pathToBootFiles;
    config.startAddress = settings.m_lastExecAddr;
    config.baudRate = settings.m_lastSpeed;
    config.comPort = settings.m_lastDevice;
    config.ports = settings.m_ports;
    if (options.bootFolderGiven) {
        config.bootFolder = NormalizeBootFolder(options.bootFolder);
    }
    if (!options.startAddress.empty() && !ParseAddress(options.startAddress, config.startAddress)) {
        std::fprintf(stderr, "--start-address: not a hexadecimal address: %s\n",
                     options.startAddress.c_str());
        return false;
    }
    if (options.baud > 0)
        config.baudRate = options.baud;
    if (options.port > 0)
        config.comPort = options.port;
    if (!options.device.empty())
        config.ports[config.comPort] = options.device;
    config.projectPath = options.project;
    config.imagePath = options.image;
    if (options.waitTimeout > 0) {
        config.waitLimit = std::chrono::milliseconds(static_cast<long>(options.waitTimeout * 1000));
    }
    return true;
}

constexpr auto kResetHintAfter = std::chrono::seconds(30);
constexpr auto kHintCheck = std::chrono::seconds(1);

// After a while of waiting for the boot loader, one word on what is watched
// and what starts it.
class ResetHint {
public:
    ResetHint(TerminalView& view, std::string device) : m_view(view), m_device(std::move(device)) {}

    // How long the caller may sleep before the hint is due; none once it is
    // given or no longer needed.
    std::optional<std::chrono::milliseconds> Due() {
        if (m_done) {
            return std::nullopt;
        }
        auto since = m_view.WaitingSince();
        if (!since) {
            m_done = m_view.PastWaiting();
            return m_done ? std::nullopt : std::optional(std::chrono::milliseconds(kHintCheck));
        }
        auto waited = std::chrono::steady_clock::now() - *since;
        if (waited < kResetHintAfter) {
            return std::chrono::ceil<std::chrono::milliseconds>(kResetHintAfter - waited);
        }
        m_view.Warn("hint: still waiting for the boot loader on " + m_device +
                    ": press the box's reset button to start it; if it does not answer, check "
                    "the wiring (TX to RX, RX to TX, ground) and the baud rate");
        m_done = true;
        return std::nullopt;
    }

private:
    TerminalView& m_view;
    std::string m_device;
    bool m_done = false;
};

// Runs the worker on a thread of its own so that an interrupt can ask it to
// stop and still wait for it to delete its files and release the port.
unsigned RunWorker(TerminalView& view, InterruptWatch& interrupts, const std::string& device) {
    std::atomic<bool> done{false};
    unsigned outcome = 0;
    std::jthread worker([&](std::stop_token stop) {
        outcome = UpdateWorker::Run(view, stop);
        done = true;
        interrupts.Wake();
    });
    ResetHint hint(view, device);
    while (!done) {
        auto hintDue = hint.Due();
        auto redrawDue = view.Tick();
        auto due = !hintDue ? redrawDue : !redrawDue ? hintDue : std::min(*hintDue, *redrawDue);
        if (interrupts.Wait(due) != 0) {
            worker.request_stop();
        }
    }
    worker.join();
    return outcome;
}

// The ending is written whatever the reader's pace; a reader who never reads
// holds the tool only until it is interrupted.
void AwaitOutput(ConsoleOutput& output, InterruptWatch& interrupts) {
    while (!output.Flush(std::chrono::milliseconds(100)) && interrupts.Received() == 0) {
    }
}

int RunFlash(const FlashOptions& options) {
    FlashConfig config;
    if (!MakeConfig(options, config)) {
        return kExitUsage;
    }
    std::unique_ptr<sim::BoxEmulator> box;
    if (options.simulate) {
        // The emulated box keeps the pace of a real line at the port's rate
        // unless told otherwise.
        sim::BoxOptions boxOptions = options.box;
        if (boxOptions.baud == 0) {
            boxOptions.baud = config.baudRate;
        }
        box = std::make_unique<sim::BoxEmulator>(boxOptions);
        std::string error;
        if (!box->OpenPty(&error)) {
            std::fprintf(stderr, "cannot start the box emulator: %s\n", error.c_str());
            return kExitPortOpen;
        }
        config.ports[config.comPort] = box->DevicePath();
        box->Start();
    }
    std::string device = DeviceForPort(config.comPort, config.ports);
    InterruptWatch interrupts;
    ConsoleOutput output;
    ProgressStyle style = StyleOf(options.progress);
    TerminalView view(config, style, output, ConsoleColumns(ConsoleStream::Out));
    SeriesFacts facts;
    if (!CheckInputs(config, view, facts)) {
        view.Finish(false);
        AwaitOutput(output, interrupts);
        return kExitBadInput;
    }
    view.Using(UsingLine(options.simulate ? device + " (the built-in box emulator)" : device,
                         config.baudRate, config, facts),
               device, facts.files, facts.bytes);
    TraceWriter trace;
    if (!options.trace.empty()) {
        if (!trace.Open(options.trace)) {
            std::fprintf(stderr, "--trace: cannot create %s\n", options.trace.c_str());
            return kExitUsage;
        }
        trace.OnWriteError([&view](const std::string& reason) { view.Warn("warning: " + reason); });
        view.SetTrace(&trace);
    }
    unsigned outcome = RunWorker(view, interrupts, device);
    trace.Close();
    if (box) {
        box->Stop();
    }
    view.Finish(static_cast<UpdateOutcome>(outcome) == UpdateOutcome::Cancelled);
    AwaitOutput(output, interrupts);
    return ExitCodeOf(outcome, interrupts.Received());
}

}  // namespace

void AddFlashCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<FlashOptions>();
    auto* command = app.add_subcommand(
        "flash", "Update a box: send the boot folder's packet series, then follow erase and burn");
    command->footer(kExitCodeHelp);
    auto* device = command->add_option("--device", options->device, "Serial device path");
    command->add_option("--port", options->port, "COM port number, mapped by [PORTS] COMn")
        ->check(WholeNumber(1, 999))
        ->excludes(device);
    command->add_option("--baud", options->baud, "Baud rate, 50 to 12000000")
        ->check(WholeNumber(kLowestBaud, kHighestBaud));
    command->add_option("--boot-folder", options->bootFolder,
                        "Folder of c_bus.txt and init_uploads.txt (\"\" for the full build)");
    command->add_option("--start-address", options->startAddress,
                        "Start address for the final execute command, hexadecimal");
    command->add_option("--settings", options->settings,
                        "Settings file (default: quillon.INI beside the program, else "
                        "~/.config/quillon/quillon.INI)");
    auto* project = command->add_option("--project", options->project, "Project description");
    auto* image = command->add_option("--image", options->image, "Flash image");
    project->needs(image);
    image->needs(project);
    command->add_flag("--simulate", options->simulate,
                      "Run against the built-in box emulator instead of a device");
    AddBoxFaultOptions(command, options->box);
    command->add_option("--trace", options->trace, "Write a timestamped hex dump of the line");
    command->add_option("--progress", options->progress, "Progress output")
        ->check(CLI::IsMember({"auto", "human", "plain", "jsonl"}));
    command
        ->add_option("--wait-timeout", options->waitTimeout,
                     "Give up waiting for the boot loader after this many seconds")
        ->check(Seconds());
    command->callback([options, command, &exitCode] {
        options->bootFolderGiven = command->count("--boot-folder") > 0;
        exitCode = RunFlash(*options);
    });
}

}  // namespace quillon::cli
