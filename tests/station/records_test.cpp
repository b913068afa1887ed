#include <gtest/gtest.h>

#include <string>

#include "station/iso_time.h"
#include "station/results_log.h"
#include "station/yield_report.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

BoxRecord Box(const std::string& start, const std::string& slot, const std::string& verdict,
              const std::string& message = "Successful to update flash! STB has restarted ") {
    BoxRecord record;
    record.start = start;
    record.end = start.substr(0, 17) + "59.000Z";
    record.slot = slot;
    record.series = "ab12";
    record.verdict = verdict;
    record.message = message;
    record.phases = {1, 2, 3, verdict == "ok" ? 4.0 : 0.0};
    return record;
}

// The results log's schema 1, field by field and in order, as
// docs/results-log.md describes it: scripts and stations read it.
TEST(ResultRecord, SchemaOneLine) {
    BoxRecord record;
    record.start = "2026-12-09T08:00:00.125Z";
    record.end = "2026-12-09T08:01:02.500Z";
    record.station = "bench-3";
    record.slot = "left \"1\"";
    record.device = "/dev/ttyUSB0";
    record.adapter = AdapterFacts{"0403", "6001", "FTDI", "A10K", "/dev/serial/by-id/usb-x"};
    record.box = "SN-0042";
    record.operatorName = "ana";
    record.lot = "L7";
    record.version = "1.0.0";
    record.series = "3fa2";
    record.startAddress = 0x800001A0;
    record.bytes = 39200;
    record.phases = {12.5, 3.25, 20, 26.125};
    record.attempts = 2;
    record.tries = {{"no_reply", {1, 2, 0, 0}}, {"record_rejected", record.phases}};
    record.verdict = "failed";
    record.cause = "record_rejected";
    record.caption = "Download Failed CheckSum/Timeout";
    record.message = "Please check your serial connection";
    record.reason = "cannot open /x: No such file or directory";
    record.exit = 4;
    record.trace = "/var/log/t.trace";
    const std::string line = RecordLine(record);
    EXPECT_EQ(line,
              R"({"schema":1,"start":"2026-12-09T08:00:00.125Z","end":"2026-12-09T08:01:02.500Z",)"
              R"("station":"bench-3","slot":"left \"1\"","device":"/dev/ttyUSB0",)"
              R"("adapter":{"vendor_id":"0403","product_id":"6001","maker":"FTDI",)"
              R"("serial":"A10K","by_id":"/dev/serial/by-id/usb-x"},"box":"SN-0042",)"
              R"("operator":"ana","lot":"L7","version":"1.0.0",)"
              R"("series":"3fa2","start_address":"0x800001A0","bytes":39200,)"
              R"("phases":{"wait":12.5,"download":3.25,"erase":20.0,"burn":26.125},)"
              R"("attempts":2,"tries":[{"cause":"no_reply","phases":{"wait":1.0,)"
              R"("download":2.0,"erase":0.0,"burn":0.0}},{"cause":"record_rejected",)"
              R"("phases":{"wait":12.5,"download":3.25,"erase":20.0,"burn":26.125}}],)"
              R"("verdict":"failed","cause":"record_rejected",)"
              R"("caption":"Download Failed CheckSum/Timeout",)"
              R"("message":"Please check your serial connection",)"
              R"("reason":"cannot open /x: No such file or directory","exit":4,)"
              R"("trace":"/var/log/t.trace"})"
              "\n");
    auto back = ParseRecordLine(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->slot, record.slot);
    EXPECT_EQ(back->phases.burn, 26.125);
    EXPECT_EQ(back->box, "SN-0042");
    EXPECT_EQ(back->attempts, 2);
    ASSERT_EQ(back->tries.size(), 2u);
    EXPECT_EQ(back->tries[0].cause, "no_reply");
    EXPECT_EQ(back->cause, "record_rejected");
    EXPECT_FALSE(ParseRecordLine("{\"schema\":2}"));
}

// A shift's log, with a line that is no record: counted, never fatal.
TEST(YieldReport, SmallLogWithAnUnreadableLine) {
    TempDir dir;
    std::string log = RecordLine(Box("2026-12-09T08:00:00.000Z", "A", "ok")) +
                      RecordLine(Box("2026-12-09T09:00:00.000Z", "A", "ok")) +
                      "{\"schema\":1, cut short\n" +
                      RecordLine(Box("2026-12-09T09:30:00.000Z", "B", "failed", "Check")) +
                      RecordLine(Box("2026-12-09T09:40:00.000Z", "B", "cancelled"));
    std::string path = dir.Write("log.jsonl", log);
    YieldTally tally;
    std::string error;
    ASSERT_TRUE(TallyLog(path, tally, error)) << error;
    YieldReport report = tally.Report();
    EXPECT_EQ(report.boxes, 4);
    EXPECT_EQ(report.ok, 2);
    EXPECT_EQ(report.failed, 1);
    EXPECT_EQ(report.cancelled, 1);
    EXPECT_EQ(report.unreadable, 1);
    EXPECT_DOUBLE_EQ(report.yield, 2.0 / 3.0);
    EXPECT_NEAR(report.perHour, 4 / (1 + 40.0 / 60 + 59.0 / 3600), 1e-9);
    EXPECT_EQ(report.medians.burn, 4);
    ASSERT_EQ(report.bySlot.size(), 2u);
    EXPECT_EQ(report.bySlot[1].key, "B");
    EXPECT_EQ(report.bySlot[1].failed, 1);

    YieldTally morning(
        {ParseIsoTime("2026-12-09T08:00"), ParseIsoTime("2026-12-09T09:00+00:00"), "", ""});
    ASSERT_TRUE(TallyLog(path, morning, error));
    EXPECT_EQ(morning.Report().boxes, 1);
}

// Failed attempts by cause, each try under its own, with the slots where they
// happened; an older record without a cause is grouped by its message.
TEST(YieldReport, FailuresByCause) {
    BoxRecord rejected = Box("2026-12-09T08:00:00.000Z", "A", "failed", "Check");
    rejected.cause = "record_rejected";
    BoxRecord retried = Box("2026-12-09T08:01:00.000Z", "B", "ok");
    retried.attempts = 3;
    retried.tries = {{"record_rejected", {}}, {"no_reply", {}}, {"", {}}};
    BoxRecord older = Box("2026-12-09T08:02:00.000Z", "A", "failed", "Please check");
    BoxRecord cancelled = Box("2026-12-09T08:03:00.000Z", "A", "cancelled", "Cancelled");
    cancelled.cause = "cancelled";
    YieldReport report = Summarize({rejected, retried, older, rejected, cancelled});
    using Slots = std::vector<std::pair<std::string, std::int64_t>>;
    ASSERT_EQ(report.byCause.size(), 3u);
    EXPECT_EQ(report.byCause[0].cause, "record_rejected");
    EXPECT_EQ(report.byCause[0].count, 3);
    EXPECT_EQ(report.byCause[0].slots, (Slots{{"A", 2}, {"B", 1}}));
    EXPECT_EQ(report.byCause[1].cause, "no_reply");
    EXPECT_EQ(report.byCause[2].cause, "Please check");
    EXPECT_EQ(report.byCause[2].slots, (Slots{{"A", 1}}));
}

// Boxes, not records: one identity is one box across slots and runs, its
// verdict its last record's (by start), its first pass its first record's.
TEST(YieldReport, CountsBoxes) {
    struct Turn {
        const char* start;
        const char* box;
        const char* verdict;
        int attempts;
        const char* lot = "L1";
    };
    struct Case {
        std::vector<Turn> turns;
        ReportFilter filter;
        std::int64_t boxes, ok, attempts;
        double yield, firstPass;
        std::size_t retried;
    };
    const Case cases[] = {
        // Retried on its slot: one record each.
        {{{"T08:00", "", "failed", 3}, {"T08:01", "", "ok", 2}}, {}, 2, 1, 5, 0.5, 0, 0},
        // Reworked later, on another slot, logged before its first record.
        {{{"T09:00", "SN-1", "ok", 1},
          {"T08:00", "SN-1", "failed", 1},
          {"T08:10", "SN-2", "ok", 1}},
         {},
         2,
         2,
         3,
         1,
         0.5,
         1},
        // A box good at once, then failing when flashed again.
        {{{"T08:00", "SN-3", "ok", 1}, {"T09:00", "SN-3", "failed", 1}}, {}, 1, 0, 2, 0, 1, 1},
        {{{"T08:00", "SN-1", "failed", 1},
          {"T09:00", "SN-1", "ok", 1, "L2"},
          {"T08:00", "", "ok", 1}},
         {{}, {}, "L1", ""},
         2,
         1,
         2,
         0.5,
         0.5,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        YieldTally tally(c.filter);
        for (const Turn& turn : c.turns) {
            BoxRecord record = Box(std::string("2026-12-09") + turn.start + ":00.000Z",
                                   turn.box[0] ? "right" : "left", turn.verdict);
            record.box = turn.box;
            record.attempts = turn.attempts;
            record.lot = turn.lot;
            tally.Add(record);
        }
        YieldReport report = tally.Report();
        EXPECT_EQ(report.boxes, c.boxes);
        EXPECT_EQ(report.ok, c.ok);
        EXPECT_EQ(report.attempts, c.attempts);
        EXPECT_DOUBLE_EQ(report.yield, c.yield);
        EXPECT_DOUBLE_EQ(report.firstPassYield, c.firstPass);
        EXPECT_EQ(report.byBox.size(), c.retried);
    }
}

// A cell a spreadsheet would run as a formula is made text, in the one field
// function that the report's CSV and the station window's records share.
TEST(ResultRecord, CsvCellsAreNeverFormulas) {
    const std::pair<std::string, std::string> cells[] = {
        {"=1+2", "'=1+2"},
        {"+SUM(A1)", "'+SUM(A1)"},
        {"-2+3", "'-2+3"},
        {"@cmd", "'@cmd"},
        {"\tx", "'\tx"},
        {"\r=x", "\"'\r=x\""},
        {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
        {"a=b", "a=b"},
        {"", ""},
    };
    for (const auto& [text, cell] : cells) {
        EXPECT_EQ(CsvField(text), cell) << text;
    }
    BoxRecord record = Box("2026-12-09T08:00:00.000Z", "=cmd|' /C calc'!A0", "failed", "-x");
    record.box = "@SN";
    record.cause = "no_reply";
    const std::string row = CsvRecordRow(record);
    EXPECT_NE(row.find(",'=cmd|' /C calc'!A0,"), std::string::npos) << row;
    EXPECT_NE(row.find(",'-x,"), std::string::npos) << row;
    EXPECT_NE(row.find(",no_reply,'@SN,"), std::string::npos) << row;
}

}  // namespace
}  // namespace quillon
