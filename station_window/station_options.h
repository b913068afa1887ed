#pragma once

#include <QString>
#include <QStringList>

#include "station/run_setup.h"

namespace quillon {

// What the command line asks of quillon-station.
struct StationCommand {
    enum class Action { Run, Help, Version, Wrong };
    Action action = Action::Run;
    RunOptions options;
    QString text;  // the help, or what is wrong with the command line
};

// The options of quillon-cli flash that a station takes, by the same names;
// what none of them gives comes from the settings file's [STATION] section.
StationCommand ParseStationCommand(const QStringList& arguments);

}  // namespace quillon
