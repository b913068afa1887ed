#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/box_emulator.h"
#include "station/emulated_boxes.h"
#include "station/station.h"

namespace quillon {

// What a person asks of a run, by the names quillon-cli flash and
// quillon-station share; each face parses its own command line into it.
struct RunOptions {
    std::vector<std::string> devices;
    std::vector<std::string> ports;  // numbers and lists: "3", "1-8,12"
    int baud = 0;                    // 0: the settings'
    std::optional<std::string> bootFolder;
    std::string startAddress;  // hexadecimal; empty: the settings'
    std::string settingsPath;  // empty: quillon.INI where the programs look for it
    std::string project;
    std::string image;
    double waitTimeout = 0;  // seconds; 0: for ever
    bool station = false;    // box after box on every slot, as --repeat asks
    int count = 0;
    std::string log;
    std::string trace;
    std::string traceDir;
    std::string traceKeep;    // "all" or "failed"; empty: the settings'
    std::string traceDirMax;  // a size ("500M"); empty: the settings'
    std::string expectSeries;
    std::string resetCommand;
    std::optional<double> resetTimeout;  // seconds; none: the settings' (10 by default)
    std::optional<int> retries;          // none: the settings' (0 by default)
    std::string boxIdCommand;
    std::string operatorName;
    std::string lot;
    std::string metrics;  // [ADDRESS:]PORT; empty: the settings' (a station's), else none
    bool simulate = false;
    int boxes = 1;
    sim::BoxOptions box;
};

// What MakeRunSetup takes, for the faces' help and checks.
constexpr int kMostEmulatedBoxes = 64;
constexpr double kLongestResetTimeout = 3600;  // seconds
constexpr int kMostRetries = 100;
// Below this a time limit ends what it bounds before it could start: one
// under a millisecond once became 0, and every reset ran past it.
constexpr double kShortestTimeLimit = 0.01;  // seconds
constexpr double kLongestWaitTimeout = 1e9;  // seconds

// When a face that can make a sound makes one: never, on a box that did not
// succeed, or on every box's verdict.
enum class SoundOn { Never, Failures, Every };

// A run made ready: the station's configuration, what the settings file
// said beside it, and the emulated boxes it runs against, if any.
struct RunSetup {
    StationConfig config;
    SoundOn sound = SoundOn::Failures;
    std::vector<std::string> warnings;
    std::unique_ptr<EmulatedBoxes> boxes;
};

// The settings file gives the defaults and, for a station, its slots, log,
// traces, expected series and reset command; the options override them.
// 0, or the exit code of a run that cannot start, with error saying why in
// words: 64 for an option or key that is wrong, 2 when the emulator gives
// no line. A settings value that no field can hold is no error here: the
// update refuses it, naming the key.
int MakeRunSetup(const RunOptions& options, RunSetup& setup, std::string& error);

class AppSettings;

// A station of one slot for an update of the working values a window keeps:
// the settings' station keys (the expected series, the log, the traces, the
// reset and identity commands, the tries, who and for what) guard it as
// they guard every other update. 0, or 64 with error saying why.
int MakeOneSlotSetup(const AppSettings& settings, const UpdateRequest& request,
                     StationConfig& config, std::string& error);

// A size in bytes: digits, then K, M, G or T (powers of 1024, "KiB" or "KB"
// alike); none for what is no size or more than 64 bits hold.
std::optional<std::uint64_t> ParseByteSize(const std::string& text);

// Whether text may stand for a series identity: 8 to 64 hexadecimal digits.
bool IsSeriesPrefix(const std::string& text);

}  // namespace quillon
