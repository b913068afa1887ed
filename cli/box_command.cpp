#include <iostream>
#include <memory>
#include <vector>

#include "cli/box_options.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "platform/file.h"
#include "platform/interrupts.h"
#include "platform/serial_line.h"
#include "sim/box_emulator.h"

namespace quillon::cli {

namespace {

struct BoxCommandOptions {
    std::string device;
    std::string link;
    sim::BoxOptions box;
    int count = 1;
    bool counted = false;  // --count given: the link is a prefix
    int faultyBox = -1;    // --on K: only box K plays the faults
};

// A symbolic link to the pty for as long as the box runs.
class PathLink {
public:
    bool Make(const std::string& link, const std::string& target, std::string& error) {
        if (int refused = PlaceLink(target, link); refused != 0) {
            error = link + ": " + OpenErrorText(refused);
            return false;
        }
        m_link = link;
        return true;
    }
    ~PathLink() {
        if (!m_link.empty()) {
            RemoveLink(m_link);
        }
    }

private:
    std::string m_link;
};

void PrintSummary(const std::string& who, const sim::BoxSummary& summary) {
    std::cout << who << summary.sessions << " session(s), " << summary.records << " record(s), "
              << summary.rejected << " rejected, " << summary.bytes << " bytes received"
              << (summary.hungUp ? ", hung up on request" : "") << '\n';
    if (!summary.lastError.empty()) {
        std::cerr << who << "dump: " << summary.lastError << '\n';
    }
}

// One box of several, or the only one: on its own pty (with its link) or
// on the device.
struct ServedBox {
    std::unique_ptr<sim::BoxEmulator> box;
    PathLink link;
};

bool OpenBox(const BoxCommandOptions& options, int index, ServedBox& served) {
    bool faulty = options.faultyBox < 0 || options.faultyBox == index;
    served.box =
        std::make_unique<sim::BoxEmulator>(faulty ? options.box : sim::WithoutFaults(options.box));
    std::string error;
    bool opened = options.device.empty() ? served.box->OpenPty(&error)
                                         : served.box->OpenDevice(options.device, &error);
    if (!opened) {
        std::cerr << "cannot open the box's line: " << error << '\n';
        return false;
    }
    // Several boxes take the link as a prefix: PREFIX0, PREFIX1, ...
    std::string link = options.counted ? options.link + std::to_string(index) : options.link;
    if (!options.link.empty() && !served.link.Make(link, served.box->DevicePath(), error)) {
        std::cerr << "cannot make the link: " << error << '\n';
        return false;
    }
    std::cout << served.box->DevicePath() << '\n';
    return true;
}

int RunBox(const BoxCommandOptions& options) {
    // Ctrl+C and termination requests end the boxes cleanly, links removed.
    InterruptWatch interrupts;
    if (options.count > 1 && !options.device.empty()) {
        std::cerr << "--count: several boxes need pseudo-terminals, not --device\n";
        return 64;
    }
    std::vector<ServedBox> boxes(static_cast<std::size_t>(options.count));
    for (int i = 0; i < options.count; ++i) {
        if (!OpenBox(options, i, boxes[static_cast<std::size_t>(i)])) {
            return 1;
        }
    }
    std::cout.flush();
    for (ServedBox& served : boxes) {
        served.box->Start();
    }
    while (interrupts.Wait() == 0) {
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        boxes[i].box->Stop();
        PrintSummary(options.count > 1 ? "box " + std::to_string(i) + ": " : "",
                     boxes[i].box->Summary());
    }
    return 0;
}

}  // namespace

void AddBoxCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<BoxCommandOptions>();
    auto* command = app.add_subcommand(
        "box", "Play a box's boot loader on a pseudo-terminal (printed) or a port, until Ctrl+C");
    auto* device = command->add_option("--device", options->device, "Serve this serial device");
    command->add_option("--link", options->link, "Make PATH a symbolic link to the pseudo-terminal")
        ->excludes(device);
    command
        ->add_option("--baud", options->box.baud,
                     "Take bytes no faster than this rate (0: as fast as they come)")
        ->check(WholeNumber(0, kHighestBaud));
    AddBoxFaultOptions(command, options->box);
    command
        ->add_option("--count", options->count,
                     "Serve this many boxes, each on a pseudo-terminal of its own; --link is "
                     "then a prefix (PREFIX0, PREFIX1, ...)")
        ->check(WholeNumber(1, 256));
    command
        ->add_option("--on", options->faultyBox,
                     "Play the fault options on box K only (0-based); the others have none")
        ->check(WholeNumber(0, 255));
    command->callback([options, command, &exitCode] {
        options->counted = command->count("--count") > 0;
        exitCode = RunBox(*options);
    });
}

}  // namespace quillon::cli
