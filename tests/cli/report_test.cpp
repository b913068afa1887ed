// The command line's logic in process: `report` reads a log of its own and
// answers scripts in JSON, with the keys the README promises.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "station/results_log.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

// The command's exit code and what it printed.
std::pair<int, std::string> RunReport(std::vector<std::string> arguments) {
    std::ostringstream out;
    std::streambuf* former = std::cout.rdbuf(out.rdbuf());
    int exitCode = -1;
    CLI::App app;
    cli::AddReportCommand(app, exitCode);
    std::reverse(arguments.begin(), arguments.end());  // CLI11 parses from the back
    app.parse(arguments);
    std::cout.rdbuf(former);
    return {exitCode, out.str()};
}

TEST(ReportCommand, JsonForScripts) {
    TempDir dir;
    BoxRecord ok;
    ok.start = "2026-12-09T08:00:00.000Z";
    ok.end = "2026-12-09T08:30:00.000Z";
    ok.slot = "left";
    ok.series = "ab";
    ok.verdict = "ok";
    BoxRecord failed = ok;
    failed.start = "2026-12-09T08:30:00.000Z";
    failed.end = "2026-12-09T09:00:00.000Z";
    failed.slot = "right";
    failed.verdict = "failed";
    failed.message = "Please check your serial connection";
    std::string log =
        dir.Write("log", RecordLine(ok) + RecordLine(ok) + "not a record\n" + RecordLine(failed));
    auto [exitCode, out] = RunReport({"report", "--format", "json", log});
    ASSERT_EQ(exitCode, 0);
    auto report = nlohmann::json::parse(out);
    EXPECT_EQ(report["boxes"], 3);
    EXPECT_EQ(report["ok"], 2);
    EXPECT_EQ(report["failed"], 1);
    EXPECT_EQ(report["cancelled"], 0);
    EXPECT_DOUBLE_EQ(report["yield"].get<double>(), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(report["per_hour"].get<double>(), 3.0);
    EXPECT_EQ(report["by_cause"][0]["message"], "Please check your serial connection");
    EXPECT_EQ(report["by_cause"][0]["count"], 1);
    EXPECT_EQ(report["by_slot"][1], (nlohmann::json{{"slot", "right"}, {"ok", 0}, {"failed", 1}}));
    EXPECT_EQ(report["by_series"][0]["ok"], 2);
    EXPECT_EQ(report["unreadable"], 1);
    EXPECT_TRUE(report.contains("phases"));

    EXPECT_EQ(RunReport({"report", dir / "missing"}).first, 3);
}

}  // namespace
}  // namespace quillon
