#include "RawTerminal.h"

#include <termios.h>

namespace cardmill {

bool MakeTerminalRaw(int fd)
{
    termios mode {};
    if (::tcgetattr(fd, &mode) != 0)
        return false;
    ::cfmakeraw(&mode);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &mode) == 0;
}

} // namespace cardmill
