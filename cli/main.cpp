#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char** argv) {
    CLI::App app{"quillon-cli: rewrites a set-top box's flash memory over a serial line"};
    app.require_subcommand(1);
    int exitCode = 0;
    quillon::cli::AddFlashCommand(app, exitCode);
    quillon::cli::AddPackCommand(app, exitCode);
    quillon::cli::AddInspectCommand(app, exitCode);
    quillon::cli::AddBoxCommand(app, exitCode);
    quillon::cli::AddPortsCommand(app, exitCode);
    CLI11_PARSE(app, argc, argv);
    return exitCode;
}
