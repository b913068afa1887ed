#include "bench/trace_figure.h"

#include "station/trace_file.h"

#include <algorithm>
#include <vector>

namespace quillon::bench {

namespace {

using Event = TraceEvent;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool IsNote(const Event& event, const char* prefix) {
    return event.kind == TraceEvent::Kind::Note && StartsWith(event.note, prefix);
}

std::optional<DownloadSpan> Fail(std::string* error, const char* why) {
    if (error) {
        *error = why;
    }
    return std::nullopt;
}

}  // namespace

std::optional<DownloadSpan> FindDownload(std::istream& trace, std::string* error) {
    std::vector<Event> events = ReadTrace(trace);
    const std::size_t none = events.size();
    auto next = [&](std::size_t from, auto match) {
        for (std::size_t i = from; i < events.size(); ++i) {
            if (match(events[i])) {
                return i;
            }
        }
        return none;
    };
    // The handshake: the first record and the box's verdict on it.
    std::size_t handshake = next(0, [](const Event& e) { return IsNote(e, "record "); });
    std::size_t verdict = next(handshake, [](const Event& e) { return IsNote(e, "status reply"); });
    std::size_t first =
        next(verdict, [](const Event& e) { return e.kind == TraceEvent::Kind::Sent; });
    if (first == none) {
        return Fail(error, "no file after the handshake");
    }
    // The final execute command follows the reply to the last file.
    std::size_t exec = none;
    for (std::size_t i = first; i < events.size(); ++i) {
        if (IsNote(events[i], "record CMD_EXEC_ADDRESS")) {
            exec = i;
        }
    }
    if (exec == none) {
        return Fail(error, "no final execute command");
    }
    std::size_t lastReply = none;
    DownloadSpan span;
    span.start = events[first].time;
    for (std::size_t i = first; i < exec; ++i) {
        if (IsNote(events[i], "status reply")) {
            lastReply = i;
        }
    }
    if (lastReply == none) {
        return Fail(error, "no status reply during the download");
    }
    bool ended = false;
    bool replied = false;  // a reply was read and no byte has gone out since
    double lastRead = 0;
    for (std::size_t i = first; i < lastReply; ++i) {
        const Event& event = events[i];
        if (event.kind == TraceEvent::Kind::Sent) {
            span.bytes += event.bytes;
            if (replied) {
                span.turnarounds.push_back(event.time - lastRead);
                replied = false;
            }
        } else if (event.kind == TraceEvent::Kind::Received) {
            span.end = event.time;
            lastRead = event.time;
            ended = true;
        } else if (IsNote(event, "status reply")) {
            ++span.replies;
            replied = true;
        }
    }
    if (!ended || span.end <= span.start) {
        return Fail(error, "the download has no length");
    }
    ++span.replies;  // the last one, which ends the span
    return span;
}

double DownloadSpan::TurnaroundQuantile(double share) const {
    if (turnarounds.empty()) {
        return 0;
    }
    std::vector<double> sorted = turnarounds;
    std::sort(sorted.begin(), sorted.end());
    auto at = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

}  // namespace quillon::bench
