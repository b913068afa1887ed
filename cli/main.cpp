#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_output.h"
#include "platform/interrupts.h"
#include "platform/program_path.h"
#include "quillon/version.h"
#include "station/exit_codes.h"

namespace {

using quillon::kExitUsage;

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A word where a command belongs that names none: the nearest command, when
// one is near enough to be a slip of the fingers ("flahs").
bool RefuseUnknownCommand(CLI::App& app, int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        return false;
    }
    std::string word = argv[1];
    std::string names;
    std::string nearest;
    std::size_t best = 3;  // more than two edits away is no slip
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        const std::string& name = command->get_name();
        if (name == word) {
            return false;
        }
        names += (names.empty() ? "" : ", ") + name;
        if (std::size_t distance = EditDistance(word, name); distance < best) {
            best = distance;
            nearest = name;
        }
    }
    if (!nearest.empty()) {
        std::cerr << "quillon-cli: unknown command \"" << word << "\"; did you mean \"" << nearest
                  << "\"?\n";
    } else {
        std::cerr << "quillon-cli: unknown command \"" << word << "\"; the commands are " << names
                  << "\n";
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Windows gives them in its ANSI code page, which may not hold a folder's name.
    quillon::UseUtf8Arguments(argc, argv);
    quillon::cli::RouteStandardStreams();
    // A packet file past a file size limit, or output to a reader that has
    // gone, would kill the tool half way and leave the series on disk; so the
    // write fails instead (EFBIG, EPIPE) and the failure is handled.
    quillon::IgnoreFatalWriteSignals();
    CLI::App app{"quillon-cli: rewrites a set-top box's flash memory over a serial line"};
    app.set_version_flag("--version", std::string("quillon-cli ") + quillon::kVersion);
    app.require_subcommand(1);
    int exitCode = 0;
    quillon::cli::AddFlashCommand(app, exitCode);
    quillon::cli::AddPackCommand(app, exitCode);
    quillon::cli::AddInspectCommand(app, exitCode);
    quillon::cli::AddBoxCommand(app, exitCode);
    quillon::cli::AddPortsCommand(app, exitCode);
    quillon::cli::AddReportCommand(app, exitCode);
    if (RefuseUnknownCommand(app, argc, argv)) {
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version end with 0.
        return app.exit(error) == 0 ? 0 : kExitUsage;
    }
    return exitCode;
}
