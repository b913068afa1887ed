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

std::string Bar(int position) {
    const int width = 24;
    int filled = std::clamp(position, 0, 100) * width / 100;
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

std::string Kibibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    return text;
}

}  // namespace

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

TerminalView::TerminalView(FlashConfig config, ProgressStyle style, ConsoleOutput& out)
    : m_config(std::move(config)), m_style(style), m_out(out) {}

void TerminalView::SetStatusText(const std::string& text) {
    if (text == m_status) {
        return;
    }
    m_status = text;
    switch (m_style) {
        case ProgressStyle::Human:
            ShowHuman(true);
            break;
        case ProgressStyle::Plain:
            m_out.Write(ConsoleStream::Out, text + "\n");
            break;
        case ProgressStyle::Jsonl:
            EmitJson("status");
            break;
    }
}

void TerminalView::SetProgressPos(int pos) {
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

void TerminalView::BytesSent(std::uint64_t sent, std::uint64_t total) {
    if (m_sent == 0) {
        m_firstByte = Clock::now();
    }
    m_sent = sent;
    m_total = total;
    if (m_style == ProgressStyle::Human) {
        ShowHuman(false);
    } else if (m_style == ProgressStyle::Jsonl) {
        EmitJson("bytes");
    }
}

double TerminalView::Rate() const {
    double seconds = std::chrono::duration<double>(Clock::now() - m_firstByte).count();
    return seconds > 0.05 ? static_cast<double>(m_sent) / seconds : 0.0;
}

void TerminalView::ShowHuman(bool force) {
    // Redrawn at most ten times a second, and at once when the status changes.
    Clock::time_point now = Clock::now();
    if (!force && now - m_lastDraw < std::chrono::milliseconds(100)) {
        return;
    }
    m_lastDraw = now;
    std::string line = m_status + "  " + Bar(m_position) + " " + std::to_string(m_position) + "%";
    if (m_total > 0 && m_sent > 0 && std::string(PhaseOf(m_status)) == "download") {
        double rate = Rate();
        line += "  " + Kibibytes(m_sent) + "/" + Kibibytes(m_total);
        if (rate > 0) {
            char tail[64];
            std::snprintf(tail, sizeof tail, "  %.1f KiB/s  %.0f s left", rate / 1024.0,
                          static_cast<double>(m_total - m_sent) / rate);
            line += tail;
        }
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
                  m_position, m_sent, m_total, Rate());
    std::string line = std::string("{\"event\":\"") + event + "\",\"phase\":\"" +
                       PhaseOf(m_status) + "\",\"status\":" + JsonString(m_status) + numbers;
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
    m_messageText = text;
    m_messageCaption = caption;
}

void TerminalView::Finish(bool cancelled) {
    if (m_lineOpen) {
        m_out.Write(ConsoleStream::Out, "\n");
        m_lineOpen = false;
    }
    std::string text =
        cancelled ? "Update cancelled; packet files removed, port released" : m_messageText;
    std::string caption = cancelled ? "Cancelled" : m_messageCaption;
    if (m_style == ProgressStyle::Jsonl) {
        m_out.Write(ConsoleStream::Out, "{\"event\":\"end\",\"caption\":" + JsonString(caption) +
                                            ",\"message\":" + JsonString(text) +
                                            ",\"detail\":" + JsonString(m_detail) + "}\n");
        return;
    }
    // The reason and the hint go to the error stream, so that the
    // message stays the last line of the output.
    if (!m_detail.empty()) {
        Warn(m_detail);
    }
    if (!m_hint.empty()) {
        Warn(m_hint);
    }
    m_out.Write(ConsoleStream::Out, caption + ": " + text + "\n");
}

void TerminalView::Warn(const std::string& text) {
    m_out.Write(ConsoleStream::Err, text + "\n");
}

}  // namespace quillon::cli
