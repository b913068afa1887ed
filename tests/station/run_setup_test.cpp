#include <gtest/gtest.h>

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
         "the reset command's time limit must be more than 0 and at most 3600 seconds, not -1"},
        {"reset time over an hour", [](RunOptions& o) { o.resetTimeout = 3600.5; },
         "the reset command's time limit must be more than 0 and at most 3600 seconds, not "
         "3600.5"},
        {"short series", [](RunOptions& o) { o.expectSeries = "abc"; },
         "the expected series must be 8 to 64 hexadecimal digits, not abc"},
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

}  // namespace
}  // namespace quillon
