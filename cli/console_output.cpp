#include "cli/console_output.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace quillon::cli {

struct ConsoleOutput::Shared {
    struct Item {
        ConsoleStream stream;
        std::string text;
        bool replaceable;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> queue;
    bool writing = false;
    std::uint64_t written = 0;  // items done, to tell a slow reader from a stuck one
    bool closing = false;
    bool outGone = false;
    bool errGone = false;

    bool& GoneFlag(ConsoleStream stream) {
        return stream == ConsoleStream::Out ? outGone : errGone;
    }

    void Serve() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return closing || !queue.empty(); });
            if (queue.empty()) {
                return;
            }
            Item item = std::move(queue.front());
            queue.pop_front();
            writing = true;
            bool gone = GoneFlag(item.stream);
            lock.unlock();
            bool ok = gone || ConsoleWrite(item.stream, item.text.data(), item.text.size());
            lock.lock();
            writing = false;
            ++written;
            if (!ok) {
                GoneFlag(item.stream) = true;  // what follows for it is dropped
            }
            changed.notify_all();
        }
    }
};

ConsoleOutput::ConsoleOutput() : m_shared(std::make_shared<Shared>()) {
    std::thread([shared = m_shared] { shared->Serve(); }).detach();
}

ConsoleOutput::~ConsoleOutput() {
    std::uint64_t before = ~std::uint64_t{0};
    while (!Flush(std::chrono::milliseconds(500))) {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->written == before) {
            break;  // nobody reads: the rest is not waited for
        }
        before = m_shared->written;
    }
    std::lock_guard lock(m_shared->mutex);
    m_shared->closing = true;
    m_shared->changed.notify_all();
}

void ConsoleOutput::Write(ConsoleStream stream, std::string text) {
    Queue(stream, std::move(text), false);
}

void ConsoleOutput::Redraw(ConsoleStream stream, std::string text) {
    Queue(stream, std::move(text), true);
}

void ConsoleOutput::Queue(ConsoleStream stream, std::string text, bool replaceable) {
    std::lock_guard lock(m_shared->mutex);
    auto& queue = m_shared->queue;
    if (replaceable && !queue.empty() && queue.back().replaceable &&
        queue.back().stream == stream) {
        queue.back().text = std::move(text);
        return;
    }
    queue.push_back({stream, std::move(text), replaceable});
    m_shared->changed.notify_all();
}

bool ConsoleOutput::Flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->changed.wait_for(
        lock, limit, [this] { return m_shared->queue.empty() && !m_shared->writing; });
}

}  // namespace quillon::cli
