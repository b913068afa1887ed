#include "cli/console_output.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <thread>

namespace quillon::cli {

namespace {

// The writer takes what has gathered this often, rather than being woken
// for every line: on a busy update, a wake-up a line would cost the worker
// more than the line itself.
constexpr auto kGatherPeriod = std::chrono::milliseconds(20);

// What a standard stream holds before it goes out, when not flushed before.
constexpr std::size_t kStreamBuffer = 16 * 1024;

// The length of text's start that ends with a whole UTF-8 sequence: a
// console is given whole letters only.
std::size_t WholeLetters(const std::string& text) {
    std::size_t end = text.size();
    for (std::size_t back = 0; back < 4 && end > 0; ++back) {
        auto byte = static_cast<unsigned char>(text[end - 1 - back]);
        if ((byte & 0xC0) != 0x80) {  // the lead of the last sequence, or ASCII
            std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            return back + 1 >= length ? end : end - 1 - back;
        }
    }
    return end;
}

// std::cout's and std::cerr's buffer: on a terminal each line goes out as
// it ends, as C's stdout does there; elsewhere when the buffer is full or
// flushed. std::cerr flushes after every output.
class ConsoleStreamBuffer : public std::streambuf {
public:
    explicit ConsoleStreamBuffer(ConsoleStream stream)
        : m_stream(stream), m_terminal(ConsoleIsTerminal(stream)) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        char letter = traits_type::to_char_type(c);
        xsputn(&letter, 1);
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        m_pending.append(text, static_cast<std::size_t>(count));
        std::size_t lineEnd = m_terminal ? m_pending.rfind('\n') : std::string::npos;
        if (lineEnd != std::string::npos) {
            Send(lineEnd + 1);
        } else if (m_pending.size() >= kStreamBuffer) {
            Send(WholeLetters(m_pending));
        }
        return count;
    }
    int sync() override { return Send(m_pending.size()) ? 0 : -1; }

private:
    bool Send(std::size_t count) {
        bool sent = ConsoleWrite(m_stream, m_pending.data(), count);
        m_pending.erase(0, count);
        return sent;
    }

    ConsoleStream m_stream;
    bool m_terminal;
    std::string m_pending;
};

}  // namespace

struct ConsoleOutput::Shared {
    struct Item {
        ConsoleStream stream;
        std::string text;
        bool replaceable;
    };

    std::mutex mutex;
    std::condition_variable work;  // for the writer: flush now, or close
    std::condition_variable done;  // for those who wait for the writer
    std::deque<Item> queue;
    bool writing = false;
    bool hurry = false;
    bool closing = false;
    bool outGone = false;
    bool errGone = false;
    std::uint64_t written = 0;  // batches done, to tell a slow reader from a stuck one

    bool& GoneFlag(ConsoleStream stream) {
        return stream == ConsoleStream::Out ? outGone : errGone;
    }

    void Serve() {
        std::unique_lock lock(mutex);
        for (;;) {
            if (queue.empty() && !closing) {
                work.wait_for(lock, kGatherPeriod, [this] { return hurry || closing; });
            }
            if (queue.empty()) {
                if (closing) {
                    return;
                }
                hurry = false;
                continue;
            }
            std::deque<Item> batch;
            batch.swap(queue);
            hurry = false;
            writing = true;
            lock.unlock();
            WriteBatch(batch);
            lock.lock();
            writing = false;
            ++written;
            done.notify_all();
        }
    }

    // Neighbours for the same stream go out in one write.
    void WriteBatch(const std::deque<Item>& batch) {
        std::string text;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            text += batch[i].text;
            if (i + 1 == batch.size() || batch[i + 1].stream != batch[i].stream) {
                WriteText(batch[i].stream, text);
                text.clear();
            }
        }
    }

    void WriteText(ConsoleStream stream, const std::string& text) {
        bool gone = false;
        {
            std::lock_guard lock(mutex);
            gone = GoneFlag(stream);
        }
        if (!gone && !ConsoleWrite(stream, text.data(), text.size())) {
            std::lock_guard lock(mutex);
            GoneFlag(stream) = true;  // what follows for it is dropped
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
    m_shared->work.notify_all();
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
}

bool ConsoleOutput::Flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_shared->mutex);
    m_shared->hurry = true;
    m_shared->work.notify_all();
    return m_shared->done.wait_for(
        lock, limit, [this] { return m_shared->queue.empty() && !m_shared->writing; });
}

// The buffers live on past main, for the streams' last flush at exit.
void RouteStandardStreams() {
    static auto* out = new ConsoleStreamBuffer(ConsoleStream::Out);
    static auto* err = new ConsoleStreamBuffer(ConsoleStream::Err);
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);
}

}  // namespace quillon::cli
