#pragma once

#include <string>

namespace quillon {

// Full path of the running executable.
std::string ProgramPath();

// The folder of the running executable, with its trailing separator.
std::string ProgramFolder();

// The user's folder for settings, with its trailing separator:
// $XDG_CONFIG_HOME, else ~/.config/ (on Windows, %APPDATA%); empty when
// the system names none.
std::string UserConfigFolder();

// This process's number, as lock files record it.
int ProcessId();

// The machine's name on the network, as a station's records name it.
std::string HostName();

// Puts main's arguments in UTF-8, as all our text is. Windows hands them
// over in the ANSI code page, which cannot hold every letter before
// Windows 10 1903; elsewhere they are left as they are.
void UseUtf8Arguments(int& argc, char**& argv);

}  // namespace quillon
