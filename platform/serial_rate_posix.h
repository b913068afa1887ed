#pragma once

namespace quillon::detail {

// Any rate the driver accepts, standard or not (termios2 with BOTHER);
// kept apart because the kernel's termios headers clash with the C library's.
bool SetLineRate(int fd, int baud);
// The output rate the driver now uses, 0 when it cannot tell.
int ReadLineRate(int fd);

}  // namespace quillon::detail
