#include "cli/commands.h"

namespace quillon::cli {

void AddPackCommand(CLI::App& app, int& exitCode) {
    auto* command = app.add_subcommand("pack", "(not built yet)");
    command->callback([&exitCode] { exitCode = 1; });
}

}  // namespace quillon::cli
