#include "cli/terminal_view.h"

#include <algorithm>
#include <cinttypes>

namespace quillon::cli {

namespace {

using Clock = std::chrono::steady_clock;
const char* const kApplicationTitle = "quillon";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

constexpr int kWidestBar = 24;
constexpr int kNarrowestBar = 8;

std::string Bar(int position, int width) {
    int filled = std::clamp(position, 0, 100) * width / 100;
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

std::string Kibibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    return text;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char* PhaseOf(const std::string& status) {
    if (StartsWith(status, "Waiting"))
        return "wait";
    if (StartsWith(status, "Now preparing"))
        return "prepare";
    if (StartsWith(status, "Download finish"))
        return "execute";
    if (StartsWith(status, "(step 1/3)") || StartsWith(status, "Downloading"))
        return "download";
    if (StartsWith(status, "(step 2/3)") || StartsWith(status, "Erasing"))
        return "erase";
    if (StartsWith(status, "(step 3/3)"))
        return "burn";
    if (StartsWith(status, "Burning finished"))
        return "end";
    return "other";
}

constexpr int kDefaultColumns = 80;
constexpr auto kEventPeriod = std::chrono::milliseconds(100);
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
constexpr int kBitsPerByte = 10;

TerminalView::TerminalView(FlashConfig config, ProgressStyle style, ConsoleOutput& out, int columns)
    : m_config(std::move(config)),
      m_style(style),
      m_out(out),
      m_columns(static_cast<std::size_t>(columns > 0 ? columns : kDefaultColumns)) {}

std::optional<Clock::time_point> TerminalView::WaitingSince() const {
    std::int64_t ticks = m_waitingSince;
    if (ticks == 0) {
        return std::nullopt;
    }
    return Clock::time_point(Clock::duration(ticks));
}

void TerminalView::Using(const std::string& line, const std::string& device, std::uint32_t files,
                         std::uint64_t bytes) {
    std::lock_guard lock(m_stateMutex);
    if (m_style != ProgressStyle::Jsonl) {
        m_out.Write(ConsoleStream::Out, line + "\n");
        return;
    }
    m_out.Write(ConsoleStream::Out, JsonStart("using") + ",\"device\":" + JsonString(device) +
                                        ",\"baud\":" + std::to_string(m_config.baudRate) +
                                        ",\"files\":" + std::to_string(files) +
                                        ",\"bytes\":" + std::to_string(bytes) + "}\n");
}

void TerminalView::Warning(const std::string& text) {
    std::lock_guard lock(m_stateMutex);
    if (std::find(m_warnings.begin(), m_warnings.end(), text) != m_warnings.end()) {
        return;
    }
    m_warnings.push_back(text);
    if (m_style == ProgressStyle::Jsonl) {
        m_out.Write(ConsoleStream::Out,
                    JsonStart("warning") + ",\"text\":" + JsonString(text) + "}\n");
    } else {
        Warn(text);
    }
}

void TerminalView::SetStatusText(const std::string& text) {
    std::lock_guard lock(m_stateMutex);
    if (text == m_status) {
        return;
    }
    m_status = text;
    m_lastPhase = PhaseOf(text);
    bool waiting = m_lastPhase == "wait";
    m_waitingSince = waiting ? Clock::now().time_since_epoch().count() : 0;
    if (!waiting && m_lastPhase != "other") {
        m_pastWaiting = true;
    }
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
    }
}

void TerminalView::SetProgressPos(int pos) {
    std::lock_guard lock(m_stateMutex);
    if (pos == m_position) {
        return;
    }
    m_position = pos;
    if (m_style == ProgressStyle::Human) {
        ShowHuman(false);
    } else if (m_style == ProgressStyle::Jsonl) {
        EmitJson("progress");
    }
}

void TerminalView::BytesSent(std::uint64_t sent, std::uint64_t inFlight, std::uint64_t total,
                             bool fileDone) {
    std::lock_guard lock(m_stateMutex);
    Clock::time_point now = Clock::now();
    if (m_sent == 0) {
        m_firstByte = now;
    }
    m_sent = sent;
    m_reached = sent - std::min(sent, inFlight);
    m_toldAt = now;
    m_total = total;
    if (m_style == ProgressStyle::Human) {
        ShowHuman(false);
    } else if (m_style == ProgressStyle::Jsonl &&
               (fileDone || now - m_lastBytesEvent >= kEventPeriod)) {
        // A script gets the count of every file, and about ten in between a second.
        m_lastBytesEvent = now;
        EmitJson("bytes");
    }
}

std::optional<std::chrono::milliseconds> TerminalView::Tick() {
    if (m_style != ProgressStyle::Human) {
        return std::nullopt;
    }
    std::lock_guard lock(m_stateMutex);
    if (m_lastPhase == "download" && m_total > 0) {
        ShowHuman(false);
    }
    return kRedrawPeriod;
}

// What has crossed the line by now: what was on it when the worker last
// told, and what the line carries since, up to all that was written.
std::uint64_t TerminalView::Reached(Clock::time_point now) const {
    double since = std::chrono::duration<double>(now - m_toldAt).count();
    auto carried = static_cast<std::uint64_t>(since * m_config.baudRate / kBitsPerByte);
    return std::min(m_sent, m_reached + carried);
}

// The bar follows the bytes of the download, not the count of its files,
// and is full once the box has given its verdict.
int TerminalView::ShownPosition(Clock::time_point now) const {
    if (m_lastPhase == "end") {
        return 100;
    }
    if (m_lastPhase == "download" && m_total > 0) {
        return static_cast<int>(50 * std::min(Reached(now), m_total) / m_total);
    }
    return m_position;
}

double TerminalView::Rate(Clock::time_point now) const {
    double seconds = std::chrono::duration<double>(now - m_firstByte).count();
    return seconds > 0.05 ? static_cast<double>(Reached(now)) / seconds : 0.0;
}

void TerminalView::ShowHuman(bool force) {
    // Redrawn at most ten times a second, and at once when the status changes.
    Clock::time_point now = Clock::now();
    if (!force && now - m_lastDraw < std::chrono::milliseconds(100)) {
        return;
    }
    m_lastDraw = now;
    int position = ShownPosition(now);
    std::string percent = " " + std::to_string(position) + "%";
    std::string tail;
    if (m_total > 0 && m_sent > 0 && m_lastPhase == "download") {
        char text[96];
        double rate = Rate(now);
        std::uint64_t reached = std::min(Reached(now), m_total);
        std::snprintf(text, sizeof text, "  %.1f/%s", static_cast<double>(reached) / 1024.0,
                      Kibibytes(m_total).c_str());
        tail = text;
        if (rate > 0) {
            std::snprintf(text, sizeof text, "  %.1f KiB/s  %.0f s left", rate / 1024.0,
                          static_cast<double>(m_total - reached) / rate);
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
        m_screen->Row(line);
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

void TerminalView::EmitJson(const char* event) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  ",\"position\":%d,\"bytes\":%" PRIu64 ",\"total\":%" PRIu64 ",\"rate\":%.0f}\n",
                  m_position, Reached(Clock::now()), m_total, Rate(Clock::now()));
    std::string line = JsonStart(event) + ",\"phase\":\"" + PhaseOf(m_status) +
                       "\",\"status\":" + JsonString(m_status) + numbers;
    // Status events are kept; progress and byte counts may give way to newer ones.
    if (std::string(event) == "status") {
        m_out.Write(ConsoleStream::Out, line);
    } else {
        m_out.Redraw(ConsoleStream::Out, line);
    }
}

void TerminalView::AppMessageBox(const std::string& text) {
    ShowMessage(text, kApplicationTitle);
}

void TerminalView::WindowMessageBox(const std::string& text, const std::string& caption, unsigned) {
    ShowMessage(text, caption);
}

void TerminalView::ShowMessage(const std::string& text, const std::string& caption) {
    std::lock_guard lock(m_stateMutex);
    m_messageText = text;
    m_messageCaption = caption;
}

void TerminalView::Finish(bool cancelled) {
    std::lock_guard lock(m_stateMutex);
    if (m_lineOpen) {
        m_out.Write(ConsoleStream::Out, "\n");
        m_lineOpen = false;
    }
    std::string text =
        cancelled ? "Update cancelled; packet files removed, port released" : m_messageText;
    std::string caption = cancelled ? "Cancelled" : m_messageCaption;
    if (cancelled &&
        (m_lastPhase == "execute" || m_lastPhase == "erase" || m_lastPhase == "burn")) {
        Warn(
            "The box goes on erasing and burning by itself: leave it powered until it restarts. "
            "Its verdict will not be seen here.");
    }
    m_messageCaption = caption;
    m_messageText = text;
    if (m_style == ProgressStyle::Jsonl) {
        m_out.Write(ConsoleStream::Out, JsonStart("end") + ",\"caption\":" + JsonString(caption) +
                                            ",\"message\":" + JsonString(text) +
                                            ",\"detail\":" + JsonString(m_detail) + "}\n");
        return;
    }
    // The reason (with its hint) goes to the error stream, so that the
    // message stays the last line of the output.
    if (!m_detail.empty()) {
        Warn(m_detail);
    }
    if (m_screen != nullptr && m_style == ProgressStyle::Human) {
        m_screen->Row(caption + ": " + text);
        return;
    }
    m_out.Write(ConsoleStream::Out, Prefix() + caption + ": " + text + "\n");
}

void TerminalView::Warn(const std::string& text) {
    if (m_screen != nullptr && m_style == ProgressStyle::Human) {
        m_screen->Note(Prefix() + text);
        return;
    }
    // Each line of a reason names its device when several lines run.
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

void TerminalView::JoinLines(std::string device, LineScreen* screen) {
    std::lock_guard lock(m_stateMutex);
    m_device = std::move(device);
    m_screen = screen;
}

std::string TerminalView::Caption() const {
    std::lock_guard lock(m_stateMutex);
    return m_messageCaption;
}

std::string TerminalView::Message() const {
    std::lock_guard lock(m_stateMutex);
    return m_messageText;
}

std::uint64_t TerminalView::BytesWritten() const {
    std::lock_guard lock(m_stateMutex);
    return m_sent;
}

std::string TerminalView::JsonStart(const char* event) const {
    std::string start = std::string("{\"event\":\"") + event + "\"";
    return m_device.empty() ? start : start + ",\"device\":" + JsonString(m_device);
}

}  // namespace quillon::cli
