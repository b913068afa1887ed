#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/box_options.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "platform/interrupts.h"
#include "platform/serial_line.h"
#include "sim/box_emulator.h"

namespace quillon::cli {

namespace {

struct BoxCommandOptions {
    std::string device;
    std::string link;
    sim::BoxOptions box;
};

// A symbolic link to the pty for as long as the box runs.
class PathLink {
public:
    bool Make(const std::string& link, const std::string& target, std::string& error) {
        std::error_code code;
        if (std::filesystem::is_symlink(link, code)) {
            std::filesystem::remove(link, code);
        }
        std::filesystem::create_symlink(target, link, code);
        if (code) {
            error = link + ": " + code.message();
            return false;
        }
        m_link = link;
        return true;
    }
    ~PathLink() {
        if (!m_link.empty()) {
            std::error_code ignored;
            std::filesystem::remove(m_link, ignored);
        }
    }

private:
    std::string m_link;
};

void PrintSummary(const sim::BoxSummary& summary) {
    std::printf("%d session(s), %d record(s), %d rejected, %llu bytes received%s\n",
                summary.sessions, summary.records, summary.rejected,
                static_cast<unsigned long long>(summary.bytes),
                summary.hungUp ? ", hung up on request" : "");
    if (!summary.lastError.empty()) {
        std::fprintf(stderr, "dump: %s\n", summary.lastError.c_str());
    }
}

int RunBox(const BoxCommandOptions& options) {
    // Ctrl+C and termination requests end the box cleanly, link removed.
    InterruptWatch interrupts;
    sim::BoxEmulator box(options.box);
    std::string error;
    bool opened =
        options.device.empty() ? box.OpenPty(&error) : box.OpenDevice(options.device, &error);
    if (!opened) {
        std::fprintf(stderr, "cannot open the box's line: %s\n", error.c_str());
        return 1;
    }
    PathLink link;
    if (!options.link.empty() && !link.Make(options.link, box.DevicePath(), error)) {
        std::fprintf(stderr, "cannot make the link: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", box.DevicePath().c_str());
    std::fflush(stdout);
    box.Start();
    while (interrupts.Wait() == 0) {
    }
    box.Stop();
    PrintSummary(box.Summary());
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
    command->callback([options, &exitCode] { exitCode = RunBox(*options); });
}

}  // namespace quillon::cli
