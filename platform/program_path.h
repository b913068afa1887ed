#pragma once

#include <string>

namespace quillon {

// Full path of the running executable.
std::string ProgramPath();

// The folder of the running executable, with its trailing separator.
std::string ProgramFolder();

// This process's number, as lock files record it.
int ProcessId();

}  // namespace quillon
