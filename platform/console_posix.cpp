#include "platform/console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace quillon {

namespace {

int FdOf(ConsoleStream stream) {
    return stream == ConsoleStream::Out ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

bool ConsoleWrite(ConsoleStream stream, const char* text, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t put = ::write(FdOf(stream), text + done, size - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno == EAGAIN) {
            // A stream that another program made non-blocking.
            pollfd fd{FdOf(stream), POLLOUT, 0};
            ::poll(&fd, 1, -1);
        } else if (put < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool ConsoleIsTerminal(ConsoleStream stream) {
    return ::isatty(FdOf(stream)) == 1;
}

int ConsoleColumns(ConsoleStream stream) {
    winsize size{};
    return ::ioctl(FdOf(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace quillon
