#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/app_settings.h"
#include "cli/box_options.h"
#include "cli/commands.h"
#include "cli/flash_exit.h"
#include "cli/option_checks.h"
#include "cli/port_list.h"
#include "cli/preflight.h"
#include "cli/results_log.h"
#include "cli/station.h"
#include "cli/terminal_view.h"
#include "cli/trace_writer.h"
#include "engine/packet_series.h"
#include "engine/update_worker.h"
#include "initfiles/boot_folder.h"
#include "platform/console.h"
#include "platform/interrupts.h"
#include "platform/serial_line.h"
#include "sim/box_emulator.h"

namespace quillon::cli {

namespace {

struct FlashOptions {
    std::vector<std::string> devices;
    std::vector<std::string> ports;  // numbers, lists and ranges: 1-8,12
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
    int boxes = 1;  // emulated boxes, with --simulate
    bool repeat = false;
    int count = 0;
    std::string log;
};

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
    // One line named by number or path is the port of a single update.
    if (options.ports.size() == 1 && options.devices.empty()) {
        std::vector<int> numbers;
        if (ParsePortList(options.ports.front(), numbers) && numbers.size() == 1) {
            config.comPort = numbers.front();
        }
    }
    if (options.devices.size() == 1 && options.ports.empty())
        config.ports[config.comPort] = options.devices.front();
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

// The boxes of --simulate, each on a pseudo-terminal of its own, keeping the
// pace of a real line at the port's rate unless told otherwise.
class EmulatedBoxes {
public:
    bool Start(const FlashOptions& options, int baud, std::vector<std::string>& devices) {
        sim::BoxOptions boxOptions = options.box;
        if (boxOptions.baud == 0) {
            boxOptions.baud = baud;
        }
        for (int i = 0; i < options.boxes; ++i) {
            auto box = std::make_unique<sim::BoxEmulator>(boxOptions);
            std::string error;
            if (!box->OpenPty(&error)) {
                std::fprintf(stderr, "cannot start the box emulator: %s\n", error.c_str());
                return false;
            }
            devices.push_back(box->DevicePath());
            box->Start();
            m_boxes.push_back(std::move(box));
        }
        return true;
    }
    ~EmulatedBoxes() {
        for (auto& box : m_boxes) {
            box->Stop();
        }
    }

private:
    std::vector<std::unique_ptr<sim::BoxEmulator>> m_boxes;
};

// The lines of the command line: each --device, each number of each --port
// list, else the settings' port.
bool LinesOf(const FlashOptions& options, const FlashConfig& config,
             std::vector<std::string>& devices) {
    devices = options.devices;
    for (const std::string& list : options.ports) {
        std::vector<int> numbers;
        if (!ParsePortList(list, numbers)) {
            std::fprintf(stderr,
                         "--port: %s is no list of port numbers from 1 to 999 (such as "
                         "1-8,12)\n",
                         list.c_str());
            return false;
        }
        for (int number : numbers) {
            devices.push_back(DeviceForPort(number, config.ports));
        }
    }
    if (devices.empty()) {
        devices.push_back(DeviceForPort(config.comPort, config.ports));
    }
    return true;
}

// One box on one line: the update exactly as a single one runs.
int FlashOne(const FlashOptions& options, FlashConfig config, const std::string& device,
             bool simulated) {
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
    view.Using(UsingLine(simulated ? device + " (the built-in box emulator)" : device,
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
    ResultsLog log;
    if (!options.log.empty() && !log.Open(options.log)) {
        std::fprintf(stderr, "--log: cannot open %s\n", options.log.c_str());
        return kExitUsage;
    }
    auto start = std::chrono::steady_clock::now();
    unsigned outcome = RunWorker(view, interrupts, device);
    trace.Close();
    bool cancelled = static_cast<UpdateOutcome>(outcome) == UpdateOutcome::Cancelled;
    view.Finish(cancelled);
    int code = ExitCodeOf(outcome, interrupts.Received());
    if (!cancelled || view.PastWaiting()) {
        log.Append(device,
                   {code, view.Caption(), view.Message(),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    view.BytesWritten(), true});
    }
    AwaitOutput(output, interrupts);
    return code;
}

// Several lines, or box after box: the series is built once, before any
// line opens, and every line sends it.
int FlashMany(const FlashOptions& options, const FlashConfig& config,
              const std::vector<std::string>& devices, bool simulated) {
    if (!options.trace.empty()) {
        std::fprintf(stderr, "--trace records one line: give one device, without --repeat\n");
        return kExitUsage;
    }
    InterruptWatch interrupts;
    ConsoleOutput output;
    StationOptions station;
    station.style = StyleOf(options.progress);
    station.columns = ConsoleColumns(ConsoleStream::Out);
    station.repeat = options.repeat;
    station.count = options.count;
    station.logPath = options.log;
    TerminalView view(config, station.style, output, station.columns);
    SeriesFacts facts;
    PacketSeries series;
    bool built = CheckInputs(config, view, facts);
    if (built && !series.Build(config.bootFolder, config.projectPath, config.imagePath,
                               config.startAddress)) {
        view.FailureDetail(series.Detail());
        view.AppMessageBox(series.Message());
        built = false;
    }
    if (!built) {
        view.Finish(false);
        AwaitOutput(output, interrupts);
        return kExitBadInput;
    }
    std::string lines;
    for (const std::string& device : devices) {
        lines += (lines.empty() ? "" : ", ") + device;
    }
    std::string what = std::to_string(devices.size()) + (devices.size() == 1 ? " line" : " lines") +
                       (simulated ? " of the built-in box emulator" : "") + " (" + lines + ")";
    view.Using(UsingLine(what, config.baudRate, config, facts), lines, facts.files, facts.bytes);
    int code = RunStation(config, devices, series, station, output, interrupts);
    AwaitOutput(output, interrupts);
    return code;
}

int RunFlash(const FlashOptions& options) {
    FlashConfig config;
    if (!MakeConfig(options, config)) {
        return kExitUsage;
    }
    std::vector<std::string> devices;
    EmulatedBoxes boxes;
    if (options.simulate) {
        if (!boxes.Start(options, config.baudRate, devices)) {
            return kExitPortOpen;
        }
    } else if (!LinesOf(options, config, devices)) {
        return kExitUsage;
    }
    // With one device the update runs as it always has: the handshake,
    // then the build.
    if (devices.size() == 1 && !options.repeat) {
        if (options.simulate) {
            config.ports[config.comPort] = devices.front();
        }
        return FlashOne(options, config, devices.front(), options.simulate);
    }
    return FlashMany(options, config, devices, options.simulate);
}

}  // namespace

void AddFlashCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<FlashOptions>();
    auto* command = app.add_subcommand(
        "flash", "Update a box: send the boot folder's packet series, then follow erase and burn");
    command->footer(kExitCodeHelp);
    command->add_option("--device", options->devices,
                        "Serial device path; once for each line to update at once");
    command->add_option("--port", options->ports,
                        "COM port numbers, mapped by [PORTS] COMn: 3, or a list such as 1-8,12");
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
    command->add_flag("--repeat", options->repeat,
                      "After each box, wait for the next one on the same line (a station), "
                      "until Ctrl+C or --count boxes");
    command->add_option("--count", options->count, "With --repeat: stop after this many boxes")
        ->check(WholeNumberFrom(1));
    command->add_option("--log", options->log,
                        "Append one JSON object per finished box to this file");
    command->add_option("--boxes", options->boxes, "With --simulate: this many emulated boxes")
        ->check(WholeNumber(1, 64));
    command->callback([options, command, &exitCode] {
        options->bootFolderGiven = command->count("--boot-folder") > 0;
        exitCode = RunFlash(*options);
    });
}

}  // namespace quillon::cli
