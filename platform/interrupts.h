#pragma once

#include <chrono>
#include <optional>

namespace quillon {

// The requests to end that reach a console program: Ctrl+C, a termination
// request, a closed terminal or lost session, Ctrl+\. While a watch lives
// they no longer end the process; the program hears of them through Wait
// and ends in its own time, its files removed and its port released.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Until an interrupt comes (its signal number), Wake() is called or the
    // time runs out (0 for both).
    int Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    // Ends a Wait from any thread.
    void Wake();
    // The first interrupt received, 0 for none.
    int Received() const;
    // The exit status of a program ended by that interrupt: 128 + its number.
    static int ExitCodeFor(int signal) { return 128 + signal; }
};

// A closed pipe or a file size limit would kill the process half way
// through an update; ignored, the write fails and the failure is handled.
void IgnoreFatalWriteSignals();

}  // namespace quillon
