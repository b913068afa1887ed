#include "platform/serial_rate_posix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace quillon::detail {

bool SetLineRate(int fd, int baud) {
    struct termios2 settings {};
    if (baud <= 0 || ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = static_cast<speed_t>(baud);
    settings.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &settings) == 0;
}

int ReadLineRate(int fd) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return 0;
    }
    return static_cast<int>(settings.c_ospeed);
}

}  // namespace quillon::detail
