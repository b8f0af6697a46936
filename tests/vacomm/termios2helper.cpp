// Kept apart: the kernel's termios2 header clashes with <termios.h>.
#include <asm/termbits.h>
#include <cstdint>
#include <sys/ioctl.h>

bool ptyReadSpeed(int fd, uint32_t &cbaud, uint32_t &ispeed, uint32_t &ospeed)
{
    struct termios2 t;
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    cbaud = t.c_cflag & CBAUD;
    ispeed = t.c_ispeed;
    ospeed = t.c_ospeed;
    return true;
}
