#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "station/exit_codes.h"
#include "station/json_text.h"
#include "station/yield_report.h"

namespace quillon::cli {

namespace {

struct ReportOptions {
    std::vector<std::string> logs;
    std::string since;
    std::string until;
    std::string format = "text";
};

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// At most width characters, cut with "..." so that a line fits 80 columns.
std::string Fit(const std::string& text, std::size_t width) {
    return text.size() <= width ? text : text.substr(0, width - 3) + "...";
}

std::string CountsTable(const char* title, const std::vector<YieldReport::Count>& counts,
                        std::size_t keyWidth) {
    std::string table = std::string(title) + "\n";
    for (const YieldReport::Count& count : counts) {
        char row[160];
        std::snprintf(row, sizeof row, "  %-*s %6d ok %6d failed\n", static_cast<int>(keyWidth),
                      Fit(count.key.empty() ? "(none)" : count.key, keyWidth).c_str(), count.ok,
                      count.failed);
        table += row;
    }
    return table;
}

std::string TextReport(const YieldReport& report) {
    std::string text = "Boxes " + std::to_string(report.boxes) + ": " + std::to_string(report.ok) +
                       " ok, " + std::to_string(report.failed) + " failed, " +
                       std::to_string(report.cancelled) + " cancelled\n";
    text += "Yield " + Fixed(report.yield * 100, 1) + "%, " + Fixed(report.perHour, 1) +
            " boxes an hour\n";
    const PhaseTimes& m = report.medians;
    text += "Median seconds of a good box: wait " + Fixed(m.wait, 1) + ", download " +
            Fixed(m.download, 1) + ", erase " + Fixed(m.erase, 1) + ", burn " + Fixed(m.burn, 1) +
            "\n";
    if (!report.byCause.empty()) {
        text += "Failures by cause\n";
        for (const YieldReport::Count& cause : report.byCause) {
            char row[160];
            std::snprintf(row, sizeof row, "  %6d  %s\n", cause.failed, Fit(cause.key, 70).c_str());
            text += row;
        }
    }
    text += CountsTable("By slot", report.bySlot, 48);
    text += CountsTable("By series", report.bySeries, 48);
    if (report.unreadable > 0) {
        text += "Unreadable lines: " + std::to_string(report.unreadable) + "\n";
    }
    return text;
}

Json CountsJson(const std::vector<YieldReport::Count>& counts, const char* key) {
    Json list = Json::array();
    for (const YieldReport::Count& count : counts) {
        list.push_back({{key, count.key}, {"ok", count.ok}, {"failed", count.failed}});
    }
    return list;
}

std::string JsonReport(const YieldReport& report) {
    Json causes = Json::array();
    for (const YieldReport::Count& cause : report.byCause) {
        causes.push_back({{"message", cause.key}, {"count", cause.failed}});
    }
    Json json = {{"boxes", report.boxes},
                 {"ok", report.ok},
                 {"failed", report.failed},
                 {"cancelled", report.cancelled},
                 {"yield", report.yield},
                 {"per_hour", report.perHour},
                 {"phases",
                  {{"wait", report.medians.wait},
                   {"download", report.medians.download},
                   {"erase", report.medians.erase},
                   {"burn", report.medians.burn}}},
                 {"by_cause", causes},
                 {"by_slot", CountsJson(report.bySlot, "slot")},
                 {"by_series", CountsJson(report.bySeries, "series")},
                 {"unreadable", report.unreadable}};
    return JsonText(json, 2);
}

// One table for a spreadsheet: what a row counts, of what, and the numbers.
std::string CsvReport(const YieldReport& report) {
    std::string csv = "kind,key,value,ok,failed\n";
    auto row = [&csv](const std::string& kind, const std::string& key, const std::string& value,
                      const std::string& ok = {}, const std::string& failed = {}) {
        csv += kind + "," + CsvField(key) + "," + value + "," + ok + "," + failed + "\n";
    };
    row("boxes", "", std::to_string(report.boxes), std::to_string(report.ok),
        std::to_string(report.failed));
    row("cancelled", "", std::to_string(report.cancelled));
    row("yield", "", Fixed(report.yield, 4));
    row("per_hour", "", Fixed(report.perHour, 2));
    const PhaseTimes& m = report.medians;
    row("phase", "wait", Fixed(m.wait, 3));
    row("phase", "download", Fixed(m.download, 3));
    row("phase", "erase", Fixed(m.erase, 3));
    row("phase", "burn", Fixed(m.burn, 3));
    for (const YieldReport::Count& cause : report.byCause) {
        row("cause", cause.key, std::to_string(cause.failed));
    }
    for (const YieldReport::Count& slot : report.bySlot) {
        row("slot", slot.key, "", std::to_string(slot.ok), std::to_string(slot.failed));
    }
    for (const YieldReport::Count& series : report.bySeries) {
        row("series", series.key, "", std::to_string(series.ok), std::to_string(series.failed));
    }
    row("unreadable", "", std::to_string(report.unreadable));
    return csv;
}

int Report(const ReportOptions& options) {
    YieldTally tally(options.since, options.until);
    for (const std::string& log : options.logs) {
        std::string error;
        if (!TallyLog(log, tally, error)) {
            std::cerr << error << '\n';
            return kExitBadInput;
        }
    }
    YieldReport report = tally.Report();
    if (options.format == "json") {
        std::cout << JsonReport(report);
    } else if (options.format == "csv") {
        std::cout << CsvReport(report);
    } else {
        std::cout << TextReport(report);
    }
    return kExitSuccess;
}

}  // namespace

void AddReportCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<ReportOptions>();
    auto* command = app.add_subcommand(
        "report", "Sum up results logs: yield, boxes an hour, phases, failures by cause and slot");
    command->add_option("logs", options->logs, "Results logs (--log files of flash)")->required();
    command->add_option("--since", options->since,
                        "Only boxes started at or after this time (ISO 8601, UTC: 2026-12-09 or "
                        "2026-12-09T06:00)");
    command->add_option("--until", options->until, "Only boxes started before this time");
    command->add_option("--format", options->format, "Output: text (80 columns), json or csv")
        ->check(CLI::IsMember({"text", "json", "csv"}));
    command->footer(
        "A line that is no result record is counted as unreadable, never fatal.\n"
        "Exit codes:\n"
        "  0  the report was made\n"
        "  3  a log could not be read\n"
        "  64 the command line was not understood");
    command->callback([options, &exitCode] { exitCode = Report(*options); });
}

}  // namespace quillon::cli
