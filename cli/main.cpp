#include <CLI/CLI.hpp>
#include <csignal>

#include "cli/commands.h"

int main(int argc, char** argv) {
    // Under a file size limit, a packet file that outgrows it would kill the
    // tool with SIGXFSZ, leaving the series on disk and no word said; ignored,
    // the write fails with EFBIG and the update ends as for a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App app{"quillon-cli: rewrites a set-top box's flash memory over a serial line"};
    app.require_subcommand(1);
    int exitCode = 0;
    quillon::cli::AddFlashCommand(app, exitCode);
    quillon::cli::AddPackCommand(app, exitCode);
    quillon::cli::AddInspectCommand(app, exitCode);
    quillon::cli::AddBoxCommand(app, exitCode);
    quillon::cli::AddPortsCommand(app, exitCode);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version end with 0; every option error ends with 64 (EX_USAGE),
        // whichever command it concerns.
        return app.exit(error) == 0 ? 0 : 64;
    }
    return exitCode;
}
