#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "station/exit_codes.h"
#include "station/iso_time.h"
#include "station/json_text.h"
#include "station/printable_text.h"
#include "station/yield_report.h"

namespace quillon::cli {

namespace {

struct ReportOptions {
    std::vector<std::string> logs;
    std::string since;
    std::string until;
    std::string lot;
    std::string operatorName;
    std::string format = "text";
};

// Names the text form gives at most before it elides them: a table's row
// then fits 80 columns.
constexpr std::size_t kKeyWidth = 48;
constexpr std::size_t kCauseWidth = 70;
// Boxes tried more than once that the text form lists; JSON lists them all.
constexpr std::size_t kBoxesListed = 20;

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Padded(const std::string& shown, std::size_t width) {
    std::size_t columns = Columns(shown);
    return shown + std::string(columns < width ? width - columns : 0, ' ');
}

// The names of one column as the text form shows them, none two alike.
class Column {
public:
    Column(const std::vector<std::string>& names, std::size_t width) {
        ColumnLabels labels = DistinctLabels(names, width);
        m_width = labels.width;
        for (std::size_t i = 0; i < names.size(); ++i) {
            m_shown.emplace(names[i], labels.shown[i]);
        }
    }
    std::string Shown(const std::string& name) const { return m_shown.at(name); }
    std::string Cell(const std::string& name) const { return Padded(Shown(name), m_width); }

private:
    std::map<std::string, std::string> m_shown;
    std::size_t m_width = 0;
};

std::string CountsTable(const char* title, const std::vector<YieldReport::Count>& counts,
                        const Column& column) {
    std::string table = std::string(title) + "\n";
    for (const YieldReport::Count& count : counts) {
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, " %6lld ok %6lld failed\n",
                      static_cast<long long>(count.ok), static_cast<long long>(count.failed));
        table += "  " + column.Cell(count.key) + numbers;
    }
    return table;
}

// "at A (2), B (1)", wrapped to 80 columns under the cause.
std::string SlotsLine(const YieldReport::Cause& cause, const Column& slots) {
    const std::string indent(15, ' ');
    std::string text = "            at";
    std::size_t columns = indent.size();
    for (std::size_t i = 0; i < cause.slots.size(); ++i) {
        const auto& [slot, count] = cause.slots[i];
        std::string item = slots.Shown(slot) + " (" + std::to_string(count) + ")" +
                           (i + 1 < cause.slots.size() ? "," : "");
        bool wrap = i > 0 && columns + 1 + Columns(item) > 80;
        text += wrap ? "\n" + indent : " ";
        columns = (wrap ? indent.size() : columns + 1) + Columns(item);
        text += item;
    }
    return text + "\n";
}

std::string CausesText(const YieldReport& report, const Column& slots) {
    if (report.byCause.empty()) {
        return {};
    }
    std::vector<std::string> keys;
    for (const YieldReport::Cause& cause : report.byCause) {
        keys.push_back(cause.cause.empty() ? "(none)" : cause.cause);
    }
    Column causes(keys, kCauseWidth);
    std::string text = "Failed attempts by cause\n";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        char count[32];
        std::snprintf(count, sizeof count, "  %6lld  ",
                      static_cast<long long>(report.byCause[i].count));
        text += count + causes.Shown(keys[i]) + "\n" + SlotsLine(report.byCause[i], slots);
    }
    return text;
}

std::string RetriedText(const YieldReport& report) {
    if (report.byBox.empty()) {
        return {};
    }
    std::vector<std::string> names;
    for (const YieldReport::Box& box : report.byBox) {
        names.push_back(box.box);
    }
    Column boxes(names, kKeyWidth);
    std::string text = "Boxes tried more than once\n";
    for (std::size_t i = 0; i < report.byBox.size() && i < kBoxesListed; ++i) {
        const YieldReport::Box& box = report.byBox[i];
        char attempts[64];
        std::snprintf(attempts, sizeof attempts, " %6lld attempts  %s\n",
                      static_cast<long long>(box.attempts), box.verdict.c_str());
        text += "  " + boxes.Cell(box.box) + attempts;
    }
    if (report.byBox.size() > kBoxesListed) {
        text += "  and " + std::to_string(report.byBox.size() - kBoxesListed) +
                " more (--format json lists every one)\n";
    }
    return text;
}

// Every slot that the tables and the causes name, in one column.
Column SlotColumn(const YieldReport& report) {
    std::vector<std::string> names;
    for (const YieldReport::Count& slot : report.bySlot) {
        names.push_back(slot.key);
    }
    for (const YieldReport::Cause& cause : report.byCause) {
        for (const auto& [slot, count] : cause.slots) {
            names.push_back(slot);
        }
    }
    return Column(names, kKeyWidth);
}

std::string TextReport(const YieldReport& report) {
    std::string text = "Boxes " + std::to_string(report.boxes) + ": " + std::to_string(report.ok) +
                       " ok, " + std::to_string(report.failed) + " failed, " +
                       std::to_string(report.cancelled) + " cancelled; " +
                       std::to_string(report.attempts) + " attempts\n";
    text += "Yield " + Fixed(report.yield * 100, 1) + "%, first-pass yield " +
            Fixed(report.firstPassYield * 100, 1) + "%, " + Fixed(report.perHour, 1) +
            " boxes an hour\n";
    const PhaseTimes& m = report.medians;
    text += "Median seconds of a good box: wait " + Fixed(m.wait, 1) + ", download " +
            Fixed(m.download, 1) + ", erase " + Fixed(m.erase, 1) + ", burn " + Fixed(m.burn, 1) +
            "\n";
    Column slots = SlotColumn(report);
    text += CausesText(report, slots);
    text += CountsTable("By slot", report.bySlot, slots);
    std::vector<std::string> series;
    for (const YieldReport::Count& count : report.bySeries) {
        series.push_back(count.key);
    }
    text += CountsTable("By series", report.bySeries, Column(series, kKeyWidth));
    text += RetriedText(report);
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

Json CausesJson(const YieldReport& report) {
    Json causes = Json::array();
    for (const YieldReport::Cause& cause : report.byCause) {
        Json slots = Json::array();
        for (const auto& [slot, count] : cause.slots) {
            slots.push_back({{"slot", slot}, {"count", count}});
        }
        causes.push_back({{"cause", cause.cause}, {"count", cause.count}, {"slots", slots}});
    }
    return causes;
}

std::string JsonReport(const YieldReport& report) {
    Json boxes = Json::array();
    for (const YieldReport::Box& box : report.byBox) {
        boxes.push_back({{"box", box.box}, {"attempts", box.attempts}, {"verdict", box.verdict}});
    }
    Json json = {{"boxes", report.boxes},
                 {"ok", report.ok},
                 {"failed", report.failed},
                 {"cancelled", report.cancelled},
                 {"attempts", report.attempts},
                 {"yield", report.yield},
                 {"first_pass_yield", report.firstPassYield},
                 {"per_hour", report.perHour},
                 {"phases",
                  {{"wait", report.medians.wait},
                   {"download", report.medians.download},
                   {"erase", report.medians.erase},
                   {"burn", report.medians.burn}}},
                 {"by_cause", CausesJson(report)},
                 {"by_slot", CountsJson(report.bySlot, "slot")},
                 {"by_series", CountsJson(report.bySeries, "series")},
                 {"by_box", boxes},
                 {"unreadable", report.unreadable}};
    return JsonText(json, 2);
}

// One table for a spreadsheet: what a row counts, of what, and the numbers;
// every cell made safe by CsvField.
std::string CsvReport(const YieldReport& report) {
    std::string csv;
    auto row = [&csv](std::initializer_list<std::string> cells) {
        for (const std::string& cell : cells) {
            csv += (&cell == cells.begin() ? "" : ",") + CsvField(cell);
        }
        csv += "\n";
    };
    auto number = [](std::int64_t value) { return std::to_string(value); };
    row({"kind", "key", "value", "ok", "failed", "slot"});
    row({"boxes", "", number(report.boxes), number(report.ok), number(report.failed)});
    row({"cancelled", "", number(report.cancelled)});
    row({"attempts", "", number(report.attempts)});
    row({"yield", "", Fixed(report.yield, 4)});
    row({"first_pass_yield", "", Fixed(report.firstPassYield, 4)});
    row({"per_hour", "", Fixed(report.perHour, 2)});
    const PhaseTimes& m = report.medians;
    row({"phase", "wait", Fixed(m.wait, 3)});
    row({"phase", "download", Fixed(m.download, 3)});
    row({"phase", "erase", Fixed(m.erase, 3)});
    row({"phase", "burn", Fixed(m.burn, 3)});
    for (const YieldReport::Cause& cause : report.byCause) {
        row({"cause", cause.cause, number(cause.count)});
        for (const auto& [slot, count] : cause.slots) {
            row({"cause_slot", cause.cause, number(count), "", "", slot});
        }
    }
    for (const YieldReport::Count& slot : report.bySlot) {
        row({"slot", slot.key, "", number(slot.ok), number(slot.failed)});
    }
    for (const YieldReport::Count& series : report.bySeries) {
        row({"series", series.key, "", number(series.ok), number(series.failed)});
    }
    for (const YieldReport::Box& box : report.byBox) {
        row({"box", box.box, number(box.attempts), box.verdict == "ok" ? "1" : "0",
             box.verdict == "failed" ? "1" : "0"});
    }
    row({"unreadable", "", number(report.unreadable)});
    return csv;
}

int Report(const ReportOptions& options) {
    ReportFilter filter;
    // The options' check has parsed them once already.
    filter.since = options.since.empty() ? std::nullopt : ParseIsoTime(options.since);
    filter.until = options.until.empty() ? std::nullopt : ParseIsoTime(options.until);
    filter.lot = options.lot;
    filter.operatorName = options.operatorName;
    YieldTally tally(filter);
    for (const std::string& log : options.logs) {
        std::string error;
        if (!TallyLog(log, tally, error)) {
            std::cerr << Printable(error) << '\n';
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

CLI::Validator IsoTime() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (ParseIsoTime(text)) {
                return {};
            }
            return "must be an ISO 8601 date or time (2026-12-09, 2026-12-09T06:00, "
                   "2026-12-09T06:00:00+02:00, 2026-12-09T04:00Z), not " +
                   Printable(text);
        },
        "TIME");
}

}  // namespace

void AddReportCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<ReportOptions>();
    auto* command = app.add_subcommand(
        "report",
        "Sum up results logs: boxes, yield, first-pass yield, boxes an hour, phases, failures by "
        "cause and slot");
    command->add_option("logs", options->logs, "Results logs (--log files of flash)")->required();
    command
        ->add_option("--since", options->since,
                     "Only boxes started at or after this time: ISO 8601, 2026-12-09 or "
                     "2026-12-09T06:00 (UTC), or with a zone: 2026-12-09T06:00+02:00")
        ->check(IsoTime());
    command
        ->add_option("--until", options->until,
                     "Only boxes started before this time, written as for --since")
        ->check(IsoTime());
    command->add_option("--lot", options->lot, "Only the records of this lot (their \"lot\")");
    command->add_option("--operator", options->operatorName,
                        "Only the records of this operator (their \"operator\")");
    command->add_option("--format", options->format, "Output: text (80 columns), json or csv")
        ->check(CLI::IsMember({"text", "json", "csv"}));
    command->footer(
        "A box is every record of one box identity (\"box\"), across slots, runs and logs; a\n"
        "record without one is a box of its own. A box's verdict is its last record's. The\n"
        "yield is the boxes that ended ok over those that ended ok or failed; the first-pass\n"
        "yield, those whose first record succeeded at its first attempt over the same.\n"
        "A line that is no result record is counted as unreadable, never fatal.\n"
        "Exit codes:\n"
        "  0  the report was made\n"
        "  3  a log could not be read\n"
        "  64 the command line was not understood");
    command->callback([options, &exitCode] { exitCode = Report(*options); });
}

}  // namespace quillon::cli
