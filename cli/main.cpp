#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "platform/interrupts.h"

int main(int argc, char** argv) {
    // A packet file past a file size limit, or output to a reader that has
    // gone, would kill the tool half way and leave the series on disk; so the
    // write fails instead (EFBIG, EPIPE) and the failure is handled.
    quillon::IgnoreFatalWriteSignals();
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
