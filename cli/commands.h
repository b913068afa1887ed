#pragma once

#include <CLI/CLI.hpp>

namespace quillon::cli {

// Each adds one subcommand; when it runs, it leaves its exit code in exitCode.
void AddPackCommand(CLI::App& app, int& exitCode);
void AddInspectCommand(CLI::App& app, int& exitCode);
void AddBoxCommand(CLI::App& app, int& exitCode);
void AddPortsCommand(CLI::App& app, int& exitCode);
void AddFlashCommand(CLI::App& app, int& exitCode);
void AddReportCommand(CLI::App& app, int& exitCode);

}  // namespace quillon::cli
