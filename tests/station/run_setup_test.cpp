#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "station/exit_codes.h"
#include "station/run_setup.h"
#include "station/station_metrics.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

// Every face hands its options to MakeRunSetup, which alone knows their
// ranges: a value out of range is refused with words, before any slot.
TEST(RunSetup, RefusesOptionsOutOfRange) {
    TempDir folder;
    struct Case {
        const char* name;
        void (*change)(RunOptions&);
        const char* error;
    };
    const Case cases[] = {
        {"no box", [](RunOptions& o) { o.simulate = true, o.boxes = 0; },
         "--boxes: a whole number from 1 to 64, not 0"},
        {"too many boxes", [](RunOptions& o) { o.simulate = true, o.boxes = 65; },
         "--boxes: a whole number from 1 to 64, not 65"},
        {"boxes without the emulator", [](RunOptions& o) { o.boxes = 2; },
         "--boxes goes with --simulate"},
        {"negative reset time", [](RunOptions& o) { o.resetTimeout = -1; },
         "--reset-timeout: the reset command's time limit must be from 0.01 to 3600 seconds, "
         "not -1"},
        {"reset time over an hour", [](RunOptions& o) { o.resetTimeout = 3600.5; },
         "--reset-timeout: the reset command's time limit must be from 0.01 to 3600 seconds, "
         "not 3600.5"},
        // Mended: under a millisecond, these became 0 and ended at once.
        {"reset time of no length", [](RunOptions& o) { o.resetTimeout = 0.0001; },
         "--reset-timeout: the reset command's time limit must be from 0.01 to 3600 seconds, "
         "not 0.0001"},
        {"wait of no length", [](RunOptions& o) { o.waitTimeout = 0.0001; },
         "--wait-timeout: must be 0 (no limit) or from 0.01 to 1000000000 seconds, not 0.0001"},
        {"short series", [](RunOptions& o) { o.expectSeries = "abc"; },
         "the expected series must be 8 to 64 hexadecimal digits, not abc"},
        {"reset time of no length, from the file (last: it stays)",
         [](RunOptions& o) { std::ofstream(o.settingsPath) << "[STATION]\nResetTimeout=0.0001\n"; },
         "[STATION] ResetTimeout: the reset command's time limit must be from 0.01 to 3600 "
         "seconds, not 0.0001"},
    };
    for (const Case& test : cases) {
        RunOptions options;
        options.settingsPath = folder.Folder() + "quillon.INI";
        options.devices = {"/dev/null"};
        test.change(options);
        RunSetup setup;
        std::string error;
        EXPECT_EQ(MakeRunSetup(options, setup, error), kExitUsage) << test.name;
        EXPECT_EQ(error, test.error) << test.name;
        EXPECT_FALSE(setup.boxes) << test.name;
    }
}

// --metrics, else a station's [STATION] Metrics: an IPv4 address of this
// host (loopback unless given) and a port; anything else is refused naming
// where it came from.
TEST(RunSetup, TakesTheMetricsEndpoint) {
    if (!StationMetricsBuilt()) {
        GTEST_SKIP() << "this build serves no metrics";
    }
    TempDir folder;
    struct Case {
        const char* option;
        const char* key;
        bool station;
        const char* served;  // address:port; "" for none
        const char* refused;
    };
    const Case cases[] = {
        {"9464", "", false, "127.0.0.1:9464", ""},
        {"0.0.0.0:9100", "9200", true, "0.0.0.0:9100", ""},
        {"", "127.0.0.2:9200", true, "127.0.0.2:9200", ""},
        {"", "9200", false, "", ""},
        {"", "9200x", true, "", "[STATION] Metrics"},
        {"0", "", false, "", "--metrics"},
        {"65536", "", false, "", "--metrics"},
        {"localhost:9464", "", false, "", "--metrics"},
        {"1.2.3:9464", "", false, "", "--metrics"},
        {"256.0.0.1:9464", "", false, "", "--metrics"},
        {":9464", "", false, "", "--metrics"},
    };
    for (const Case& test : cases) {
        RunOptions options;
        options.settingsPath =
            folder.Write("quillon.INI", std::string("[STATION]\nMetrics=") + test.key + "\n");
        options.devices = {"/dev/null"};
        options.metrics = test.option;
        options.station = test.station;
        RunSetup setup;
        std::string error;
        std::string name = std::string(test.option) + " / " + test.key;
        if (*test.refused != '\0') {
            EXPECT_EQ(MakeRunSetup(options, setup, error), kExitUsage) << name;
            EXPECT_EQ(error.rfind(std::string(test.refused) + ": [ADDRESS:]PORT, ", 0), 0u)
                << name << ": " << error;
            continue;
        }
        ASSERT_EQ(MakeRunSetup(options, setup, error), kExitSuccess) << name << ": " << error;
        EXPECT_EQ(setup.config.metrics ? setup.config.metrics->Text() : "", test.served) << name;
    }
}
#ifndef _WIN32  // the README is found by the build machine's path
// Mended: the README's station example had comments after its values,
// which belong to the values: its ports were refused. Taken as it stands,
// every key means what its comment says.
TEST(RunSetup, TheReadmesStationExampleWorksAsWritten) {
    std::ifstream readme(QUILLON_SOURCE_DIR "/README.md");
    std::string line;
    std::string example;
    while (std::getline(readme, line) && line != "    [STATION]") {
    }
    for (example = line + "\n"; std::getline(readme, line) && line.rfind("    ", 0) == 0;) {
        example += line.substr(4) + "\n";
    }
    TempDir folder;
    RunOptions options;
    options.settingsPath = folder.Write("quillon.INI", example);
    options.station = true;
    RunSetup setup;
    std::string error;
    ASSERT_EQ(MakeRunSetup(options, setup, error), kExitSuccess) << error << "\n" << example;
    const StationConfig& config = setup.config;
    EXPECT_EQ(config.stationName, "bench-3");
    ASSERT_EQ(config.slots.size(), 8u);
    EXPECT_EQ(config.slots[0].name, "left front");
    EXPECT_EQ(config.slots[7].resetCommand, "relay-ctl pulse 8");
    EXPECT_EQ(config.traceDir, "/var/log/quillon/traces");
    EXPECT_EQ(config.request.expectedSeries, "3fa2c1d0be47a9e1");
    EXPECT_EQ(config.resetCommand, "uhubctl -a cycle -l 1-1 -p {port}");
    EXPECT_EQ(config.request.refusal, "");
}
#endif

}  // namespace
}  // namespace quillon
