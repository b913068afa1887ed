// The command line's logic in process: `report` reads a log of its own and
// answers scripts in JSON, with the keys the README promises.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
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
    try {
        app.parse(arguments);
    } catch (const CLI::ParseError& error) {
        out << error.what();  // main ends with 64 then
        exitCode = 64;
    }
    std::cout.rdbuf(former);
    return {exitCode, out.str()};
}

BoxRecord Record(const std::string& start, const std::string& slot, const std::string& verdict) {
    BoxRecord record;
    record.start = start;
    record.end = start;
    record.slot = slot;
    record.series = "ab";
    record.verdict = verdict;
    return record;
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
    EXPECT_EQ(report["attempts"], 3);
    EXPECT_DOUBLE_EQ(report["first_pass_yield"].get<double>(), 2.0 / 3.0);
    EXPECT_EQ(report["by_cause"][0],
              (nlohmann::json{{"cause", "Please check your serial connection"},
                              {"count", 1},
                              {"slots", {{{"slot", "right"}, {"count", 1}}}}}));
    EXPECT_EQ(report["by_box"], nlohmann::json::array());
    EXPECT_EQ(report["by_slot"][1], (nlohmann::json{{"slot", "right"}, {"ok", 0}, {"failed", 1}}));
    EXPECT_EQ(report["by_series"][0]["ok"], 2);
    EXPECT_EQ(report["unreadable"], 1);
    EXPECT_TRUE(report.contains("phases"));

    EXPECT_EQ(RunReport({"report", dir / "missing"}).first, 3);
}

// --since and --until are times, whatever zone they are written in: a box
// counts from its since on and before its until. What is no ISO 8601 date
// or time is refused, naming the option.
TEST(ReportCommand, SinceAndUntilAreTimes) {
    TempDir dir;
    std::string log =
        dir.Write("log", RecordLine(Record("2026-12-09T03:59:59.999Z", "A", "ok")) +
                             RecordLine(Record("2026-12-09T05:00:00.000Z", "A", "ok")));
    const std::pair<const char*, int> sinceCounts[] = {
        {"2026-12-09", 2},
        {"2026-12-09T04:00Z", 1},
        {"2026-12-09T06:00+02:00", 1},
        {"2026-12-09 06:30+0130", 1},
        {"2026-12-09T00:00:00-04", 1},
        {"2026-12-09T03:59:59.999Z", 2},
        {"2026-12-09t05:00:00,5z", 0},
        {"2026-12-10", 0},
        {"yesterday", -1},
        {"2026-13-45", -1},
        {"2026-02-29", -1},
        {"99999999999999999999", -1},
        {"06:00", -1},
        {"06:00+02:00", -1},
        {"2026-12-09T24:00", -1},
        {"2026-12-09T06:00:60", -1},
        {"2026-12-09T06:00+2", -1},
        {"2026-12-09Z", -1},
        {"20261209", -1},
        {"", -1},
    };
    for (const auto& [time, counted] : sinceCounts) {
        for (std::string option : {"--since", "--until"}) {
            auto [exitCode, out] = RunReport({"report", "--format", "json", option, time, log});
            SCOPED_TRACE(option + " " + time);
            if (counted < 0) {
                EXPECT_EQ(exitCode, 64);
                EXPECT_EQ(out.rfind(option + ": must be an ISO 8601", 0), 0u) << out;
                continue;
            }
            ASSERT_EQ(exitCode, 0) << out;
            EXPECT_EQ(nlohmann::json::parse(out)["boxes"],
                      option == "--since" ? counted : 2 - counted);
        }
    }
}

// The text form, for a terminal: nothing from a log reaches it as a control,
// and no two slots read the same, however long their names.
TEST(ReportCommand, TextTellsEverySlotApart) {
    TempDir dir;
    const std::string middle(60, '-');
    std::vector<std::string> slots = {
        "Rack A " + middle + "\xc3\xa9 pos 01", "Rack A " + middle + "\xc3\xa9 pos 02",
        "Rack " + middle + "A" + middle + " pos 01", "Rack " + middle + "B" + middle + " pos 01",
        "\x1b]0;owned\x07\x1b[2J"};
    std::string log;
    for (const std::string& slot : slots) {
        BoxRecord record = Record("2026-12-09T05:00:00.000Z", slot, "failed");
        record.cause = "no_reply\x1b[1A";
        log += RecordLine(record);
    }
    auto [exitCode, out] = RunReport({"report", dir.Write("log", log)});
    ASSERT_EQ(exitCode, 0);
    EXPECT_EQ(out.find_first_of("\x1b\x07\r"), std::string::npos) << out;
    std::set<std::string> rows;
    std::istringstream lines(out.substr(out.find("By slot\n")));
    for (std::string line; std::getline(lines, line) && line != "By series";) {
        rows.insert(line.substr(0, line.rfind(" ok ")));
    }
    EXPECT_EQ(rows.size(), slots.size() + 1) << out;
    EXPECT_NE(out.find("no_reply\\x1b[1A\n            at "), std::string::npos) << out;
    EXPECT_NE(out.find("\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << out;
    EXPECT_NE(out.find("\xc3\xa9 pos 02"), std::string::npos) << out;
}

}  // namespace
}  // namespace quillon
