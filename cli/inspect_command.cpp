#include "cli/commands.h"

namespace quillon::cli {

void AddInspectCommand(CLI::App& app, int& exitCode) {
    auto* command = app.add_subcommand("inspect", "(not built yet)");
    command->callback([&exitCode] { exitCode = 1; });
}

}  // namespace quillon::cli
