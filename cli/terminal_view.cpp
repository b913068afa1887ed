#include "cli/terminal_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillon::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidestBar = 24;
constexpr int kNarrowestBar = 8;
constexpr int kNarrowestRow = 20;
constexpr auto kEventPeriod = std::chrono::milliseconds(100);
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);

std::string Bar(int position, int width) {
    int filled = std::clamp(position, 0, 100) * width / 100;
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

std::string Kibibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    return text;
}

std::size_t ColumnsOf(int columns) {
    return static_cast<std::size_t>(columns > 0 ? columns : kDefaultColumns);
}

}  // namespace

// --- the rows of several slots ---

RowScreen::RowScreen(ConsoleOutput& out, std::size_t rows, int columns)
    : m_out(out), m_rows(rows), m_columns(ColumnsOf(columns)) {}

void RowScreen::SetRow(std::size_t index, std::string text) {
    std::lock_guard lock(m_mutex);
    m_rows[index] = std::move(text);
}

void RowScreen::Note(std::string text) {
    std::lock_guard lock(m_mutex);
    m_notes.push_back(std::move(text));
}

void RowScreen::Redraw() {
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

// --- one slot ---

TerminalView::TerminalView(ProgressStyle style, ConsoleOutput& out, int columns, int baud)
    : m_style(style), m_out(out), m_columns(ColumnsOf(columns)), m_baud(baud), m_estimate(baud) {}

void TerminalView::JoinSlots(std::string device, RowScreen* screen, std::size_t row,
                             std::size_t labelWidth, bool counts) {
    std::lock_guard lock(m_mutex);
    m_device = std::move(device);
    m_screen = screen;
    m_row = row;
    m_labelWidth = labelWidth;
    m_counts = counts;
    if (m_screen != nullptr) {
        int room = static_cast<int>(m_columns) - static_cast<int>(RowLabel().size());
        m_columns = static_cast<std::size_t>(std::max(room, kNarrowestRow));
    }
}

std::string TerminalView::RowLabel() const {
    std::string label = m_device;
    label.resize(std::max(label.size(), m_labelWidth), ' ');
    if (m_counts) {
        label += "  [" + std::to_string(m_ok) + " ok, " + std::to_string(m_failed) + " failed]";
    }
    return label + "  ";
}

void TerminalView::Using(const std::string& line, const std::string& device,
                         const SeriesFacts& facts) {
    std::lock_guard lock(m_mutex);
    if (m_style != ProgressStyle::Jsonl) {
        m_out.Write(ConsoleStream::Out, line + "\n");
        return;
    }
    Json event = JsonStart("using");
    event["device"] = device;
    event["baud"] = m_baud;
    event["files"] = facts.files;
    event["bytes"] = facts.bytes;
    event["series"] = facts.identity;
    m_out.Write(ConsoleStream::Out, JsonText(event));
}

void TerminalView::Warning(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (std::find(m_warnings.begin(), m_warnings.end(), text) != m_warnings.end()) {
        return;
    }
    m_warnings.push_back(text);
    if (m_style == ProgressStyle::Jsonl) {
        Json event = JsonStart("warning");
        event["text"] = text;
        m_out.Write(ConsoleStream::Out, JsonText(event));
    } else {
        Warn(text);
    }
}

void TerminalView::On(const SlotEvent& event) {
    std::visit(Overloaded{
                   [this](const PhaseEvent& e) {
                       std::lock_guard lock(m_mutex);
                       m_phase = e.phase;
                       JournalStart(e.phase);
                   },
                   [this](const StatusEvent& e) { Status(e.text); },
                   [this](const ProgressEvent& e) { Position(e.position); },
                   [this](const BytesEvent& e) { Bytes(e); },
                   [this](const WarningEvent& e) { Warning(e.text); },
                   [this](const NoteEvent& e) { Warn(e.text); },
                   [this](const BoxEndedEvent& e) { Ended(e.record); },
                   [](const auto&) {},
               },
               event);
}

void TerminalView::Status(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (text == m_status) {
        return;
    }
    m_status = text;
    switch (m_style) {
        case ProgressStyle::Human:
            ShowHuman(true);
            break;
        case ProgressStyle::Plain:
            m_out.Write(ConsoleStream::Out, Prefix() + text + "\n");
            break;
        case ProgressStyle::Jsonl:
            EmitJson("status");
            break;
        case ProgressStyle::Journal:
            break;  // its box's start and verdict say enough
    }
}

// A box answered: said once, whatever tries it takes.
void TerminalView::JournalStart(UpdatePhase phase) {
    if (m_style == ProgressStyle::Journal && phase > UpdatePhase::Waiting && !m_boxOpen) {
        m_boxOpen = true;
        m_out.Write(ConsoleStream::Out, Prefix() + "box started\n");
    }
}

// "bay 3: box SN-0042 failed, record_rejected: the box rejected record 0003
// ..., 2 tries, 3.2 s": the verdict, its cause and reason, in one line; a
// box that did not succeed says so on the error stream, as every face's
// failures do (a journal takes both, at their own priorities).
void TerminalView::JournalEnding(const BoxRecord& record) {
    m_boxOpen = false;
    if (!record.hadBox && record.verdict == "cancelled") {
        return;  // a wait that a stop ended: no box
    }
    std::string line =
        Prefix() + "box " + (record.box.empty() ? "" : record.box + " ") + record.verdict;
    if (record.verdict != "ok") {
        std::string reason = record.reason.substr(0, record.reason.find('\n'));
        line += ", " + (record.cause.empty() ? record.message : record.cause) +
                (reason.empty() ? "" : ": " + reason);
    }
    if (record.attempts > 1) {
        line += ", " + std::to_string(record.attempts) + " tries";
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, ", %.1f s\n", record.seconds);
    m_out.Write(record.verdict == "ok" ? ConsoleStream::Out : ConsoleStream::Err, line + seconds);
}

void TerminalView::Position(int position) {
    std::lock_guard lock(m_mutex);
    if (position == m_position) {
        return;
    }
    m_position = position;
    if (m_style == ProgressStyle::Human) {
        ShowHuman(false);
    } else if (m_style == ProgressStyle::Jsonl) {
        EmitJson("progress");
    }
}

void TerminalView::Bytes(const BytesEvent& bytes) {
    std::lock_guard lock(m_mutex);
    Clock::time_point now = Clock::now();
    m_estimate.Told(bytes.sent, bytes.inFlight, bytes.total, now);
    const bool fileDone = bytes.fileDone;
    if (m_style == ProgressStyle::Human) {
        ShowHuman(false);
    } else if (m_style == ProgressStyle::Jsonl &&
               (fileDone || now - m_lastBytesEvent >= kEventPeriod)) {
        // A script gets the count of every file, and about ten in between a second.
        m_lastBytesEvent = now;
        EmitJson("bytes");
    }
}

void TerminalView::Tick() {
    std::lock_guard lock(m_mutex);
    if (m_style == ProgressStyle::Human && m_phase == UpdatePhase::Download &&
        m_estimate.Total() > 0) {
        ShowHuman(false);
    }
}

// The bar follows the bytes of the download, not the count of its files,
// and is full once the box has given its verdict.
int TerminalView::ShownPosition(Clock::time_point now) const {
    if (m_phase == UpdatePhase::Ended) {
        return 100;
    }
    if (m_phase == UpdatePhase::Download && m_estimate.Total() > 0) {
        return m_estimate.BandPosition(now);
    }
    return m_position;
}

void TerminalView::ShowHuman(bool force) {
    // Redrawn at most ten times a second, and at once when the status changes.
    Clock::time_point now = Clock::now();
    if (!force && now - m_lastDraw < kRedrawPeriod) {
        return;
    }
    m_lastDraw = now;
    int position = ShownPosition(now);
    std::string percent = " " + std::to_string(position) + "%";
    std::string tail;
    std::uint64_t total = m_estimate.Total();
    if (total > 0 && m_estimate.Sent() > 0 && m_phase == UpdatePhase::Download) {
        char text[96];
        std::uint64_t reached = std::min(m_estimate.Reached(now), total);
        std::snprintf(text, sizeof text, "  %.1f/%s", static_cast<double>(reached) / 1024.0,
                      Kibibytes(total).c_str());
        tail = text;
        if (auto left = m_estimate.SecondsLeft(now)) {
            std::snprintf(text, sizeof text, "  %.1f KiB/s  %.0f s left",
                          m_estimate.Rate(now) / 1024.0, *left);
            tail += text;
        }
    }
    // The bar gives way first, down to nothing, so that the figures fit;
    // then the line is cut one column short of the width: a line that fills
    // it would wrap, and every redraw would then add a line.
    int room = static_cast<int>(m_columns) - 1 -
               static_cast<int>(m_status.size() + 4 + percent.size() + tail.size());
    std::string bar =
        room < kNarrowestBar ? std::string() : "  " + Bar(position, std::min(room, kWidestBar));
    std::string line = m_status + bar + percent + tail;
    if (line.size() >= m_columns) {
        line.resize(m_columns - 1);
    }
    if (m_screen != nullptr) {
        m_screen->SetRow(m_row, RowLabel() + line);
        return;
    }
    // A new status is kept; a redraw of the same one may give way to the next.
    if (force) {
        m_out.Write(ConsoleStream::Out, "\r\033[K" + line);
    } else {
        m_out.Redraw(ConsoleStream::Out, "\r\033[K" + line);
    }
    m_lineOpen = true;
}

void TerminalView::EmitJson(const char* name) {
    Clock::time_point now = Clock::now();
    Json event = JsonStart(name);
    event["phase"] = PhaseName(m_phase);
    event["status"] = m_status;
    event["position"] = m_position;
    event["bytes"] = m_estimate.Reached(now);
    event["total"] = m_estimate.Total();
    event["rate"] = std::llround(m_estimate.Rate(now));
    // Status events are kept; progress and byte counts may give way to newer ones.
    if (std::string(name) == "status") {
        m_out.Write(ConsoleStream::Out, JsonText(event));
    } else {
        m_out.Redraw(ConsoleStream::Out, JsonText(event));
    }
}

void TerminalView::Refused(const BoxRecord& record) {
    std::lock_guard lock(m_mutex);
    ShowEnding(record, false);
}

void TerminalView::Ended(const BoxRecord& record) {
    std::lock_guard lock(m_mutex);
    bool cancelled = record.verdict == "cancelled";
    if (record.hadBox && !cancelled) {
        ++(record.verdict == "ok" ? m_ok : m_failed);
    }
    if (m_lineOpen) {
        m_out.Write(ConsoleStream::Out, "\n");
        m_lineOpen = false;
    }
    UpdatePhase reached = record.reached;
    if (cancelled && (reached == UpdatePhase::Execute || reached == UpdatePhase::Erase ||
                      reached == UpdatePhase::Burn)) {
        Warn(
            "The box goes on erasing and burning by itself: leave it powered until it restarts. "
            "Its verdict will not be seen here.");
    }
    ShowEnding(record);
    // The next box starts from nothing.
    m_status.clear();
    m_phase = UpdatePhase::Starting;
    m_position = 0;
    m_estimate = ProgressEstimate(m_baud);
}

void TerminalView::ShowEnding(const BoxRecord& record, bool ofBox) {
    if (m_style == ProgressStyle::Journal && ofBox) {
        JournalEnding(record);
        return;
    }
    const std::string& caption = record.caption;
    const std::string& message = record.message;
    if (m_style == ProgressStyle::Jsonl) {
        Json event = JsonStart("end");
        event["caption"] = caption;
        event["message"] = message;
        event["detail"] = record.reason;
        event["verdict"] = record.verdict;
        if (!record.cause.empty()) {
            event["cause"] = record.cause;
        }
        m_out.Write(ConsoleStream::Out, JsonText(event));
        return;
    }
    // The reason (with its hint) goes to the error stream, so that the
    // message stays the last line of the output.
    if (!record.reason.empty()) {
        Warn(record.reason);
    }
    if (m_screen != nullptr && m_style == ProgressStyle::Human) {
        m_screen->SetRow(m_row, RowLabel() + caption + ": " + message);
        return;
    }
    m_out.Write(ConsoleStream::Out, Prefix() + caption + ": " + message + "\n");
}

void TerminalView::Warn(const std::string& text) {
    if (m_screen != nullptr && m_style == ProgressStyle::Human) {
        m_screen->Note(Prefix() + text);
        return;
    }
    // Each line of a reason names its device when several slots run.
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        out += Prefix() + text.substr(start, end - start) + "\n";
        start = end + 1;
    }
    m_out.Write(ConsoleStream::Err, out.empty() ? "\n" : out);
}

Json TerminalView::JsonStart(const char* name) const {
    Json event = {{"event", name}};
    if (!m_device.empty()) {
        event["device"] = m_device;
    }
    return event;
}

}  // namespace quillon::cli
