#include "station/trace_budget.h"

#include <algorithm>
#include <vector>

#include "platform/file.h"
#include "station/trace_file.h"

namespace quillon {

namespace {

bool IsTraceName(const std::string& name) {
    const std::string end = ".trace";
    return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TraceBudget::TraceBudget(TraceFolder& folder, std::uint64_t most) : m_folder(folder), m_most(most) {
    // Trace names begin with their start time: by name is by age.
    std::vector<std::string> names = RegularFilesIn(folder.Path());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!IsTraceName(name)) {
            continue;
        }
        std::uint64_t bytes = FileSizeAt(folder.PathOf(name)).value_or(0);
        m_traces.push_back({name, bytes, false});
        m_bytes += bytes;
    }
}

void TraceBudget::Kept(const std::string& path, bool good) {
    std::lock_guard lock(m_mutex);
    std::uint64_t bytes = FileSizeAt(path).value_or(0);
    m_traces.push_back({path.substr(path.find_last_of("/\\") + 1), bytes, good});
    m_bytes += bytes;
    // The newest stays whatever its size: it is the one a reader looks for.
    while (m_bytes > m_most && m_traces.size() > 1) {
        RemoveOldest();
    }
}

// The oldest good trace, else the oldest of any but the newest.
void TraceBudget::RemoveOldest() {
    auto last = std::prev(m_traces.end());
    auto oldest =
        std::find_if(m_traces.begin(), last, [](const Trace& trace) { return trace.good; });
    if (oldest == last) {
        oldest = m_traces.begin();
    }
    // Gone already, or not ours to remove: counted out all the same.
    m_folder.RemoveName(oldest->name);
    m_bytes -= oldest->bytes;
    m_traces.erase(oldest);
}

}  // namespace quillon
