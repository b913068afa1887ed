#include "cli/commands.h"

namespace quillon::cli {

void AddFlashCommand(CLI::App& app, int& exitCode) {
    auto* command = app.add_subcommand("flash", "(not built yet)");
    command->callback([&exitCode] { exitCode = 1; });
}

}  // namespace quillon::cli
