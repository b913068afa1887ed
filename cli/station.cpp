#include "cli/station.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/flash_exit.h"
#include "cli/results_log.h"
#include "engine/update_worker.h"

namespace quillon::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
constexpr int kDefaultColumns = 80;

// The rows of every line on a terminal, redrawn in place; notes (warnings,
// reasons) go above them.
class RowScreen {
public:
    RowScreen(ConsoleOutput& out, std::size_t rows, int columns)
        : m_out(out),
          m_rows(rows),
          m_columns(static_cast<std::size_t>(columns > 0 ? columns : kDefaultColumns)) {}

    void SetRow(std::size_t index, std::string text) {
        std::lock_guard lock(m_mutex);
        m_rows[index] = std::move(text);
    }

    void Note(std::string text) {
        std::lock_guard lock(m_mutex);
        m_notes.push_back(std::move(text));
    }

    void Redraw() {
        std::lock_guard lock(m_mutex);
        std::string rows;
        if (m_drawn) {
            rows = "\033[" + std::to_string(m_rows.size()) + "A\r";
        }
        if (!m_notes.empty()) {
            m_out.Write(ConsoleStream::Out, rows + "\033[J");
            std::string notes;
            for (const std::string& note : m_notes) {
                notes += note + "\n";
            }
            m_out.Write(ConsoleStream::Err, notes);
            m_notes.clear();
            rows.clear();
        }
        for (std::string row : m_rows) {
            if (row.size() >= m_columns) {
                row.resize(m_columns - 1);
            }
            rows += "\r\033[K" + row + "\n";
        }
        m_out.Write(ConsoleStream::Out, rows);
        m_drawn = true;
    }

private:
    ConsoleOutput& m_out;
    std::mutex m_mutex;
    std::vector<std::string> m_rows;
    std::vector<std::string> m_notes;
    std::size_t m_columns;
    bool m_drawn = false;
};

struct Station {
    Station(const FlashConfig& config, const PacketSeries& series, const StationOptions& options,
            ConsoleOutput& output, InterruptWatch& interrupts)
        : config(config),
          series(series),
          options(options),
          output(output),
          interrupts(interrupts) {}

    const FlashConfig& config;
    const PacketSeries& series;
    const StationOptions& options;
    ConsoleOutput& output;
    InterruptWatch& interrupts;
    ResultsLog log;
    std::unique_ptr<RowScreen> screen;
    std::atomic<int> claimed{0};
    std::size_t labelWidth = 0;

    // Boxes are counted as their updates start, so that --count N makes N.
    bool ClaimBox() {
        if (options.count <= 0) {
            return true;
        }
        int mine = claimed.fetch_add(1);
        return mine < options.count;
    }
};

// One line: box after box (or one) on one device, on a thread of its own.
class Line : public LineScreen {
public:
    Line(std::size_t index, std::string device, Station& station)
        : m_index(index), m_device(std::move(device)), m_station(station) {
        m_config = station.config;
        m_config.ports[m_config.comPort] = m_device;
    }

    void Start() {
        m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    void Stop() { m_thread.request_stop(); }
    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool Done() const { return m_done; }
    const std::string& Device() const { return m_device; }
    // Lets the row follow the line's bytes while the worker waits.
    void Tick() {
        std::lock_guard lock(m_viewMutex);
        if (m_view != nullptr) {
            m_view->Tick();
        }
    }

    // Every update's result, its boxes and a last run cancelled while waiting.
    std::vector<BoxResult> Results() const {
        std::lock_guard lock(m_mutex);
        return m_results;
    }

    void Row(const std::string& text) override {
        m_station.screen->SetRow(m_index, Label() + text);
    }
    void Note(const std::string& text) override { m_station.screen->Note(text); }

private:
    std::string Label() const {
        std::string label = m_device;
        label.resize(std::max(label.size(), m_station.labelWidth), ' ');
        if (m_station.options.repeat) {
            std::lock_guard lock(m_mutex);
            label += "  [" + std::to_string(m_ok) + " ok, " + std::to_string(m_failed) + " failed]";
        }
        return label + "  ";
    }

    void Run(std::stop_token stop) {
        while (!stop.stop_requested() && m_station.ClaimBox()) {
            if (!RunOne(stop)) {
                break;
            }
        }
        m_done = true;
        m_station.interrupts.Wake();
    }

    // One update; false when the line should not wait for another box.
    bool RunOne(const std::stop_token& stop) {
        const StationOptions& options = m_station.options;
        int columns = options.columns > 0 ? options.columns : kDefaultColumns;
        int rowRoom = columns - static_cast<int>(Label().size());
        TerminalView view(m_config, options.style, m_station.output, std::max(rowRoom, 20));
        view.JoinLines(m_device, m_station.screen ? this : nullptr);
        auto start = Clock::now();
        ShowView(&view);
        unsigned outcome = UpdateWorker::Run(view, stop, &m_station.series);
        ShowView(nullptr);
        auto ended = static_cast<UpdateOutcome>(outcome);
        view.Finish(ended == UpdateOutcome::Cancelled);
        BoxResult result;
        result.exitCode = ExitCodeOf(outcome, m_station.interrupts.Received());
        result.caption = view.Caption();
        result.message = view.Message();
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.bytes = view.BytesWritten();
        result.hadBox = ended != UpdateOutcome::Cancelled || view.PastWaiting();
        Record(result);
        // A port that will not open or inputs that are wrong would fail the
        // next box at once as well.
        return options.repeat && ended != UpdateOutcome::Cancelled &&
               ended != UpdateOutcome::PortOpenFailed && ended != UpdateOutcome::BadInput;
    }

    void ShowView(TerminalView* view) {
        std::lock_guard lock(m_viewMutex);
        m_view = view;
    }

    void Record(const BoxResult& result) {
        {
            std::lock_guard lock(m_mutex);
            m_results.push_back(result);
            if (result.hadBox) {
                ++(result.exitCode == kExitSuccess ? m_ok : m_failed);
            }
        }
        if (result.hadBox) {
            m_station.log.Append(m_device, result);
        }
    }

    std::size_t m_index;
    std::string m_device;
    Station& m_station;
    FlashConfig m_config;
    mutable std::mutex m_mutex;
    std::vector<BoxResult> m_results;
    int m_ok = 0;
    int m_failed = 0;
    std::atomic<bool> m_done{false};
    std::mutex m_viewMutex;
    TerminalView* m_view = nullptr;  // the update under way
    std::jthread m_thread;
};

std::string SummaryRow(const Line& line, const std::vector<BoxResult>& results,
                       std::size_t labelWidth, bool repeat) {
    std::string device = line.Device();
    device.resize(std::max(device.size(), labelWidth), ' ');
    if (results.empty()) {
        return "  " + device + "  no box\n";
    }
    const BoxResult& last = results.back();
    double seconds = 0;
    int ok = 0;
    int boxes = 0;
    for (const BoxResult& result : results) {
        seconds += result.seconds;
        boxes += result.hadBox ? 1 : 0;
        ok += result.hadBox && result.exitCode == kExitSuccess ? 1 : 0;
    }
    std::string row = "  " + device + "  ";
    if (repeat) {
        row += std::to_string(boxes) + " boxes: " + std::to_string(ok) + " ok, " +
               std::to_string(boxes - ok) + " failed; last ";
    }
    std::string verdict = VerdictOf(last);
    verdict.resize(std::max<std::size_t>(verdict.size(), 9), ' ');  // "cancelled"
    return row + verdict + " " + last.caption + ": " + last.message + "  exit " +
           std::to_string(last.exitCode) + "  " + SecondsText(seconds) + " s\n";
}

std::string SummaryEvent(const Line& line, const std::vector<BoxResult>& results) {
    BoxResult last = results.empty() ? BoxResult{} : results.back();
    int ok = 0;
    int failed = 0;
    double seconds = 0;
    for (const BoxResult& result : results) {
        seconds += result.seconds;
        if (result.hadBox) {
            ++(result.exitCode == kExitSuccess ? ok : failed);
        }
    }
    return "{\"event\":\"summary\",\"device\":" + JsonString(line.Device()) + ",\"verdict\":\"" +
           (results.empty() ? "none" : VerdictOf(last)) +
           "\",\"caption\":" + JsonString(last.caption) +
           ",\"message\":" + JsonString(last.message) +
           ",\"exit\":" + std::to_string(last.exitCode) + ",\"seconds\":" + SecondsText(seconds) +
           ",\"ok\":" + std::to_string(ok) + ",\"failed\":" + std::to_string(failed) + "}\n";
}

}  // namespace

int RunStation(const FlashConfig& config, const std::vector<std::string>& devices,
               const PacketSeries& series, const StationOptions& options, ConsoleOutput& output,
               InterruptWatch& interrupts) {
    Station station(config, series, options, output, interrupts);
    if (!options.logPath.empty() && !station.log.Open(options.logPath)) {
        output.Write(ConsoleStream::Err, "--log: cannot open " + options.logPath + "\n");
        return kExitUsage;
    }
    for (const std::string& device : devices) {
        station.labelWidth = std::max(station.labelWidth, device.size());
    }
    if (options.style == ProgressStyle::Human) {
        station.screen = std::make_unique<RowScreen>(output, devices.size(), options.columns);
    }
    std::vector<std::unique_ptr<Line>> lines;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        lines.push_back(std::make_unique<Line>(i, devices[i], station));
    }
    for (auto& line : lines) {
        line->Start();
    }
    auto allDone = [&lines] {
        return std::all_of(lines.begin(), lines.end(),
                           [](const auto& line) { return line->Done(); });
    };
    while (!allDone()) {
        std::optional<std::chrono::milliseconds> redraw;
        if (station.screen) {
            redraw = kRedrawPeriod;
        }
        if (interrupts.Wait(redraw) != 0) {
            for (auto& line : lines) {
                line->Stop();
            }
        }
        if (station.screen) {
            for (auto& line : lines) {
                line->Tick();
            }
            station.screen->Redraw();
        }
    }
    std::vector<int> codes;
    std::string summary = options.style == ProgressStyle::Jsonl ? "" : "Summary:\n";
    for (auto& line : lines) {
        line->Join();
        std::vector<BoxResult> results = line->Results();
        for (const BoxResult& result : results) {
            codes.push_back(result.exitCode);
        }
        summary += options.style == ProgressStyle::Jsonl
                       ? SummaryEvent(*line, results)
                       : SummaryRow(*line, results, station.labelWidth, options.repeat);
    }
    if (station.screen) {
        station.screen->Redraw();
    }
    output.Write(ConsoleStream::Out, summary);
    return CombinedExitCode(codes);
}

}  // namespace quillon::cli
