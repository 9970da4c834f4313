// Kept apart from the rest of the module: <asm/termbits.h> declares its own
// struct termios and cannot be included together with <termios.h>.
#include "sim/simmodule.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

bool readMasterLine(int fd, qint32* baud, bool* oddParity)
{
    struct termios2 tio;
    if (fd < 0 || ::ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    // On a pseudo-terminal master the terminal ioctls act on the slave's
    // settings, i.e. on the line the tool has configured.
    const speed_t speed = tio.c_ospeed != 0 ? tio.c_ospeed : tio.c_ispeed;
    if (baud)
        *baud = static_cast<qint32>(speed);
    if (oddParity)
        *oddParity = (tio.c_cflag & PARODD) != 0;
    return true;
}

} // namespace sim
