#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace quillon::detail {

// A command's output as lines, said as they come, the last one whole or
// not once the output ends, each without its line end (LF or CR LF, on
// every system). A line with no end is said in parts, so that a command
// that writes on and on costs no more than a line's memory.
class OutputLines {
public:
    static constexpr std::size_t kLongestLine = 4096;

    explicit OutputLines(std::function<void(const std::string&)> onLine)
        : m_onLine(std::move(onLine)) {}
    void Add(const char* bytes, std::size_t count) {
        m_pending.append(bytes, count);
        for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
            Say(m_pending.substr(0, end));
            m_pending.erase(0, end + 1);
        }
        if (m_pending.size() > kLongestLine) {
            Say(m_pending);
            m_pending.clear();
        }
    }
    void Finish() {
        if (!m_pending.empty()) {
            Say(m_pending);
            m_pending.clear();
        }
    }

private:
    void Say(std::string line) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (m_onLine) {
            m_onLine(line);
        }
    }
    std::function<void(const std::string&)> m_onLine;
    std::string m_pending;
};

}  // namespace quillon::detail
