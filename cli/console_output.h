#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/console.h"

namespace quillon::cli {

// What a command-line update prints, written by a thread of its own: the
// update never waits for a reader who does not read (a full pipe, a
// terminal stopped with Ctrl+S), and a reader who has gone (a closed pipe,
// a hung-up terminal) costs the output, never the update.
class ConsoleOutput {
public:
    ConsoleOutput();
    // Waits for what is being written only while the reader keeps up; what
    // a stuck reader holds back is left to the thread.
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    // Kept until written: status texts, messages, reasons.
    void Write(ConsoleStream stream, std::string text);
    // Replaced by the next Redraw that comes before it has gone out:
    // progress, of which only the latest matters.
    void Redraw(ConsoleStream stream, std::string text);
    // Until everything queued is written, or the time has run out (false).
    bool Flush(std::chrono::milliseconds limit);

private:
    struct Shared;
    void Queue(ConsoleStream stream, std::string text, bool replaceable);

    std::shared_ptr<Shared> m_shared;
};

// Makes std::cout and std::cerr write the way ConsoleOutput does: to a
// console as its own text (on Windows through the console's wide calls,
// whatever its code page), to a file or a pipe as UTF-8. Every command's
// printing, and the command line's own help and errors, take that one way.
void RouteStandardStreams();

}  // namespace quillon::cli
