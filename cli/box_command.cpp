#include "cli/commands.h"

namespace quillon::cli {

void AddBoxCommand(CLI::App& app, int& exitCode) {
    auto* command = app.add_subcommand("box", "(not built yet)");
    command->callback([&exitCode] { exitCode = 1; });
}

}  // namespace quillon::cli
