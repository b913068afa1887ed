#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "cli/box_options.h"
#include "cli/commands.h"
#include "cli/input_lines.h"
#include "cli/option_checks.h"
#include "cli/terminal_view.h"
#include "platform/console.h"
#include "platform/interrupts.h"
#include "platform/serial_line.h"
#include "station/exit_codes.h"
#include "station/printable_text.h"
#include "station/run_setup.h"
#include "station/station.h"

namespace quillon::cli {

namespace {

struct FlashOptions {
    RunOptions run;
    std::string bootFolderText;
    std::string progress = "auto";
};

// repeat: a station, whose piped output is its journal unless lines are asked for.
ProgressStyle StyleOf(const std::string& name, bool repeat) {
    if (name == "human")
        return ProgressStyle::Human;
    if (name == "plain")
        return ProgressStyle::Plain;
    if (name == "jsonl")
        return ProgressStyle::Jsonl;
    if (name == "journal")
        return ProgressStyle::Journal;
    // A terminal that cannot move the cursor gets lines, as a pipe does.
    const char* term = std::getenv("TERM");
    bool dumb = term != nullptr && std::string(term) == "dumb";
    if (ConsoleIsTerminal(ConsoleStream::Out) && !dumb) {
        return ProgressStyle::Human;
    }
    return repeat ? ProgressStyle::Journal : ProgressStyle::Plain;
}

// The ending is written whatever the reader's pace; a reader who never reads
// holds the tool only until it is interrupted.
void AwaitOutput(ConsoleOutput& output, InterruptWatch& interrupts) {
    while (!output.Flush(std::chrono::milliseconds(100)) && interrupts.Received() == 0) {
    }
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string SummaryRow(const std::string& slot, const SlotSummary& summary, std::size_t labelWidth,
                       bool repeat) {
    std::string device = slot;
    device.resize(std::max(device.size(), labelWidth), ' ');
    if (!summary.last) {
        return "  " + device + "  no box\n";
    }
    const BoxRecord& last = *summary.last;
    std::string row = "  " + device + "  ";
    if (repeat) {
        int failed = summary.boxes - summary.ok - summary.cancelled;
        row += std::to_string(summary.boxes) + " boxes: " + std::to_string(summary.ok) + " ok, " +
               std::to_string(failed) + " failed";
        if (summary.cancelled > 0) {
            row += ", " + std::to_string(summary.cancelled) + " cancelled";
        }
        if (summary.attempts > summary.boxes) {
            row += ", " + std::to_string(summary.attempts) + " tries";
        }
        row += "; last ";
    }
    std::string verdict = last.verdict;
    verdict.resize(std::max<std::size_t>(verdict.size(), 9), ' ');  // "cancelled"
    return row + verdict + " " + last.caption + ": " + last.message + "  exit " +
           std::to_string(last.exit) + "  " + SecondsText(summary.seconds) + " s\n";
}

std::string SummaryEvent(const std::string& slot, const SlotSummary& summary) {
    BoxRecord last = summary.last.value_or(BoxRecord{});
    Json event = {{"event", "summary"},
                  {"device", slot},
                  {"verdict", summary.last ? last.verdict : "none"},
                  {"caption", last.caption},
                  {"message", last.message},
                  {"exit", last.exit},
                  {"seconds", std::round(summary.seconds * 1000) / 1000},
                  {"ok", summary.ok},
                  {"failed", summary.boxes - summary.ok - summary.cancelled},
                  {"cancelled", summary.cancelled},
                  {"attempts", summary.attempts}};
    return JsonText(event);
}

// How a run of several slots (or box after box) is shown: a row or lines
// for each, then a summary.
class RunDisplay {
public:
    RunDisplay(ProgressStyle style, const StationConfig& config, ConsoleOutput& output)
        : m_style(style),
          m_output(output),
          m_single(config.slots.size() == 1 && !config.repeat),
          m_repeat(config.repeat) {
        int columns = ConsoleColumns(ConsoleStream::Out);
        for (const SlotSpec& slot : config.slots) {
            m_labelWidth = std::max(m_labelWidth, slot.name.size());
        }
        if (!m_single && m_style == ProgressStyle::Human) {
            m_screen = std::make_unique<RowScreen>(output, config.slots.size(), columns);
        }
        for (std::size_t i = 0; i < config.slots.size(); ++i) {
            m_views.push_back(
                std::make_unique<TerminalView>(m_style, output, columns, config.request.baudRate));
            if (!m_single) {
                m_views.back()->JoinSlots(config.slots[i].name, m_screen.get(), i, m_labelWidth,
                                          m_repeat);
            }
        }
        m_head = std::make_unique<TerminalView>(m_style, output, columns, config.request.baudRate);
    }

    TerminalView& Head() { return m_single ? *m_views.front() : *m_head; }
    // Each slot's events to its own view.
    void Show(std::size_t slot, const SlotEvent& event) { m_views[slot]->On(event); }
    std::optional<std::chrono::milliseconds> RedrawDue() const {
        return m_style == ProgressStyle::Human ? std::optional(std::chrono::milliseconds(100))
                                               : std::nullopt;
    }
    void Redraw() {
        for (auto& view : m_views) {
            view->Tick();
        }
        if (m_screen) {
            m_screen->Redraw();
        }
    }
    void Summary(const Station& station) {
        if (m_screen) {
            m_screen->Redraw();
        }
        if (m_single) {
            return;
        }
        std::string summary = m_style == ProgressStyle::Jsonl ? "" : "Summary:\n";
        for (std::size_t i = 0; i < station.SlotCount(); ++i) {
            SlotSummary slot = station.Summary(i);
            summary += m_style == ProgressStyle::Jsonl
                           ? SummaryEvent(station.Slot(i).name, slot)
                           : SummaryRow(station.Slot(i).name, slot, m_labelWidth, m_repeat);
        }
        m_output.Write(ConsoleStream::Out, summary);
    }

private:
    ProgressStyle m_style;
    ConsoleOutput& m_output;
    bool m_single;
    bool m_repeat;
    std::size_t m_labelWidth = 0;
    std::unique_ptr<RowScreen> m_screen;
    std::vector<std::unique_ptr<TerminalView>> m_views;
    std::unique_ptr<TerminalView> m_head;  // what concerns all slots
};

std::string UsingWhat(const StationConfig& config, bool simulated) {
    if (config.slots.size() == 1 && !config.repeat) {
        const std::string& device = config.slots.front().device;
        return simulated ? device + " (the built-in box emulator)" : device;
    }
    std::string devices;
    for (const SlotSpec& slot : config.slots) {
        devices += (devices.empty() ? "" : ", ") + slot.device;
    }
    std::size_t count = config.slots.size();
    return std::to_string(count) + (count == 1 ? " line" : " lines") +
           (simulated ? " of the built-in box emulator" : "") + " (" + devices + ")";
}

std::string DevicesText(const StationConfig& config) {
    std::string devices;
    for (const SlotSpec& slot : config.slots) {
        devices += (devices.empty() ? "" : ", ") + slot.device;
    }
    return devices;
}

// A line names a slot whose new box is in.
void ReleaseNamedSlots(Station& station, const std::vector<std::string>& lines,
                       TerminalView& head) {
    for (const std::string& line : lines) {
        if (line.empty()) {
            continue;
        }
        if (std::optional<std::size_t> slot = station.FindSlot(line)) {
            station.Release(*slot);
        } else {
            head.Warn("no slot is named " + Printable(line));
        }
    }
}

int RunStation(const FlashOptions& options, const StationConfig& config,
               const std::vector<std::string>& settingsWarnings) {
    InterruptWatch interrupts;
    ConsoleOutput output;
    RunDisplay display(StyleOf(options.progress, config.repeat), config, output);
    for (const std::string& warning : settingsWarnings) {
        display.Head().Warn(warning);
    }
    Station station(config);
    if (!station.Prepare()) {
        const BoxRecord& refused = station.Refused();
        if (station.RefusalExit() == kExitUsage) {
            display.Head().Warn(refused.message + ": " + refused.reason);
        } else {
            display.Head().Refused(refused);
        }
        AwaitOutput(output, interrupts);
        return station.RefusalExit();
    }
    for (const std::string& warning : station.Facts().warnings) {
        display.Head().On(WarningEvent{warning});
    }
    std::vector<std::string> devices;
    for (const SlotSpec& slot : config.slots) {
        devices.push_back(slot.device);
    }
    display.Head().Using(
        UsingLine(UsingWhat(config, options.run.simulate), config.request, station.Facts()) +
            LatencyNote(devices),
        DevicesText(config), station.Facts());
    EventQueue events([&interrupts] { interrupts.Wake(); });
    auto show = [&display](std::size_t slot, const SlotEvent& event) { display.Show(slot, event); };
    station.Start(&events, [&interrupts] { interrupts.Wake(); });
    std::unique_ptr<InputLines> releases;
    if (station.MayHold()) {
        display.Head().Warn(
            "A slot whose box has ended holds until a new box is in: type the slot's name, "
            "device or number and Enter (or unplug its adapter and plug it in again).");
        releases = std::make_unique<InputLines>([&interrupts] { interrupts.Wake(); });
    }
    while (!station.Done()) {
        if (int signal = interrupts.Wait(display.RedrawDue()); signal != 0) {
            station.Stop(signal);
        }
        events.Drain(show);
        if (releases) {
            ReleaseNamedSlots(station, releases->Take(), display.Head());
        }
        display.Redraw();
    }
    station.Join();
    events.Drain(show);
    display.Summary(station);
    const std::vector<std::string>& unlogged = station.UnloggedLines();
    if (!unlogged.empty()) {
        std::string lines = std::to_string(unlogged.size()) +
                            " result(s) could not be written to " + config.logPath +
                            "; here they are, to keep:\n";
        for (const std::string& line : unlogged) {
            lines += line;
        }
        output.Write(ConsoleStream::Err, lines);
    }
    AwaitOutput(output, interrupts);
    return station.ExitCode();
}

int RunFlash(const FlashOptions& options) {
    RunSetup setup;
    std::string error;
    if (int refused = MakeRunSetup(options.run, setup, error); refused != kExitSuccess) {
        std::cerr << error << '\n';
        return refused;
    }
    return RunStation(options, setup.config, setup.warnings);
}

}  // namespace

void AddFlashCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<FlashOptions>();
    auto* command = app.add_subcommand(
        "flash", "Update a box: send the boot folder's packet series, then follow erase and burn");
    command->footer(kExitCodeHelp);
    command->add_option("--device", options->run.devices,
                        "Serial device path; once for each line to update at once");
    command->add_option("--port", options->run.ports,
                        "COM port numbers, mapped by [PORTS] COMn: 3, or a list such as 1-8,12");
    command->add_option("--baud", options->run.baud, "Baud rate, 50 to 12000000")
        ->check(WholeNumber(kLowestBaud, kHighestBaud));
    command->add_option("--boot-folder", options->bootFolderText,
                        "Folder of c_bus.txt and init_uploads.txt (\"\" for the full build)");
    command->add_option("--start-address", options->run.startAddress,
                        "Start address for the final execute command, hexadecimal");
    command->add_option("--settings", options->run.settingsPath,
                        "Settings file (default: quillon.INI beside the program, else "
                        "~/.config/quillon/quillon.INI)");
    auto* project = command->add_option("--project", options->run.project, "Project description");
    auto* image = command->add_option("--image", options->run.image, "Flash image");
    project->needs(image);
    image->needs(project);
    command->add_flag("--simulate", options->run.simulate,
                      "Run against the built-in box emulator instead of a device");
    AddBoxFaultOptions(command, options->run.box);
    command->add_option("--trace", options->run.trace, "Write a timestamped hex dump of the line");
    command->add_option("--progress", options->progress, "Progress output")
        ->check(CLI::IsMember({"auto", "human", "plain", "jsonl", "journal"}));
    command
        ->add_option("--wait-timeout", options->run.waitTimeout,
                     "Give up waiting for the boot loader after this many seconds")
        ->check(Seconds());
    command->add_flag("--repeat", options->run.station,
                      "After each box, wait for the next one on the same line (a station), "
                      "until Ctrl+C or --count boxes");
    command->add_option("--count", options->run.count, "With --repeat: stop after this many boxes")
        ->check(WholeNumberFrom(1));
    command->add_option("--log", options->run.log,
                        "Append one JSON object per finished box to this file (see "
                        "docs/results-log.md)");
    command->add_option("--trace-dir", options->run.traceDir,
                        "Write one trace for each box into this folder; its record names it");
    command
        ->add_option("--trace-keep", options->run.traceKeep,
                     "With --trace-dir: keep the traces of all boxes, or only of those that "
                     "failed (default all)")
        ->check(CLI::IsMember({"all", "failed"}));
    command->add_option("--trace-dir-max", options->run.traceDirMax,
                        "With --trace-dir: keep the folder's traces within SIZE (500M, 2G), the "
                        "oldest traces of good boxes removed first");
    command
        ->add_option("--expect-series", options->run.expectSeries,
                     "Refuse a series whose identity is not this one (64 hexadecimal digits, "
                     "or the first 8 or more), before any port opens")
        ->check([](const std::string& text) {
            return IsSeriesPrefix(text) ? std::string()
                                        : "must be 8 to 64 hexadecimal digits, not " + text;
        });
    command->add_option("--reset-command", options->run.resetCommand,
                        "Run this shell command before each wait for a box, {device}, {slot} and "
                        "{port} replaced (a relay, a switched USB hub); it must end with 0");
    command
        ->add_option("--reset-timeout", options->run.resetTimeout,
                     "Seconds the reset command may take (default 10)")
        ->check(Seconds());
    command
        ->add_option("--retries", options->run.retries,
                     "Try a box that failed this many more times on its slot before its "
                     "verdict is final (default 0)")
        ->check(WholeNumber(0, kMostRetries));
    command->add_option("--box-id-command", options->run.boxIdCommand,
                        "Run this shell command before each box's first try, {device}, {slot} "
                        "and {port} replaced: its first line is the box's identity in the record");
    command->add_option("--operator", options->run.operatorName,
                        "Who flashes the boxes, for the records");
    command->add_option("--lot", options->run.lot, "The lot the boxes belong to, for the records");
    command->add_option("--boxes", options->run.boxes, "With --simulate: this many emulated boxes")
        ->check(WholeNumber(1, kMostEmulatedBoxes));
    AddMetricsOption(*command, options->run.metrics);
    command->callback([options, command, &exitCode] {
        if (command->count("--boot-folder") > 0) {
            options->run.bootFolder = options->bootFolderText;
        }
        exitCode = RunFlash(*options);
    });
}

}  // namespace quillon::cli
