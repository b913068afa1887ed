#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace quillon {

class TraceFolder;

// Keeps a trace folder within a size: after each box's trace is kept, the
// oldest traces of good boxes go first, then the oldest of any, never the
// one just kept. Traces that earlier runs left count too, oldest first,
// after this run's good ones (their verdicts are not known here).
class TraceBudget {
public:
    // Removes only within the folder held open, never where its path may
    // lead by then.
    TraceBudget(TraceFolder& folder, std::uint64_t most);

    // A box's trace, closed and kept; good: its box succeeded.
    void Kept(const std::string& path, bool good);

private:
    struct Trace {
        std::string name;
        std::uint64_t bytes = 0;
        bool good = false;
    };
    void RemoveOldest();

    TraceFolder& m_folder;
    std::uint64_t m_most;
    std::mutex m_mutex;
    std::deque<Trace> m_traces;  // oldest first
    std::uint64_t m_bytes = 0;
};

}  // namespace quillon
