#include "platform/interrupts.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace quillon {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The handler may only do what is safe in a signal handler: remember the
// first signal and write one byte to the pipe that Wait polls. Lock-free
// atomics are safe there, and other threads read it too.
std::atomic<int> g_received{0};
static_assert(std::atomic<int>::is_always_lock_free);
int g_pipe[2] = {-1, -1};
struct sigaction g_former[sizeof kSignals / sizeof kSignals[0]];

void OnSignal(int signal) {
    int saved = errno;
    int none = 0;
    g_received.compare_exchange_strong(none, signal);
    unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] auto ignored = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

InterruptWatch::InterruptWatch() {
    g_received = 0;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &action, &g_former[i]);
    }
}

InterruptWatch::~InterruptWatch() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &g_former[i], nullptr);
    }
    for (int& fd : g_pipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

int InterruptWatch::Wait(std::optional<std::chrono::milliseconds> timeout) {
    if (g_received != 0) {
        return g_received;
    }
    pollfd fd{g_pipe[0], POLLIN, 0};
    int wait = timeout ? static_cast<int>(timeout->count()) : -1;
    while (::poll(&fd, 1, wait) < 0 && errno == EINTR) {
        if (g_received != 0) {
            break;
        }
    }
    unsigned char bytes[64];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    return g_received;
}

void InterruptWatch::Wake() {
    unsigned char none = 0;
    [[maybe_unused]] auto ignored = ::write(g_pipe[1], &none, 1);
}

int InterruptWatch::Received() const {
    return g_received;
}

void IgnoreFatalWriteSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace quillon
