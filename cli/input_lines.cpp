#include "cli/input_lines.h"

#include <iostream>
#include <mutex>
#include <thread>
#include <utility>

namespace quillon::cli {

namespace {

// A line longer than this is no slot's name: the rest is dropped.
constexpr std::size_t kLongestLine = 4096;

}  // namespace

struct InputLines::Shared {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::function<void()> wake;  // empty once the owner has gone
};

InputLines::InputLines(std::function<void()> wake) : m_shared(std::make_shared<Shared>()) {
    m_shared->wake = std::move(wake);
    std::thread([shared = m_shared] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            line.resize(std::min(line.size(), kLongestLine));
            std::lock_guard lock(shared->mutex);
            if (!shared->wake) {
                return;
            }
            shared->lines.push_back(line);
            shared->wake();
        }
    }).detach();
}

InputLines::~InputLines() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->wake = nullptr;
}

std::vector<std::string> InputLines::Take() {
    std::lock_guard lock(m_shared->mutex);
    return std::exchange(m_shared->lines, {});
}

}  // namespace quillon::cli
