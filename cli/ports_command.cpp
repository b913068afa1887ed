#include "cli/commands.h"

namespace quillon::cli {

void AddPortsCommand(CLI::App& app, int& exitCode) {
    auto* command = app.add_subcommand("ports", "(not built yet)");
    command->callback([&exitCode] { exitCode = 1; });
}

}  // namespace quillon::cli
