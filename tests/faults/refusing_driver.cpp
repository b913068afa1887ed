// A serial driver that takes no line settings: preloaded into quillon-cli,
// it stands for an adapter whose driver refuses what the box needs.
#include <errno.h>
#include <termios.h>

extern "C" int tcsetattr(int, int, const struct termios*) {
    errno = EINVAL;
    return -1;
}
