#pragma once

#include <CLI/CLI.hpp>

namespace quillon::cli {

// Checks of numeric options whose messages say in words what is wanted
// ("must be a whole number from 1 to 999, not abc"), where the library's
// own would print the limits of a double.
CLI::Validator WholeNumber(long long least, long long most);
CLI::Validator WholeNumberFrom(long long least);
CLI::Validator Seconds();

// --metrics where this build serves a station's metrics; elsewhere a line of
// the command's help says that it is left out.
void AddMetricsOption(CLI::App& command, std::string& endpoint);

}  // namespace quillon::cli
