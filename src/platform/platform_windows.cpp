#include "platform.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

namespace Platform {

// A console window, not a pipe or a file, and one that takes console modes: MSYS terminals
// are pipes and do not count.
bool stderrIsTerminal()
{
    if (!_isatty(_fileno(stderr)))
        return false;
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::optional<qint64> receiveDrops(qintptr)
{
    return std::nullopt;
}

int fullReceiveBuffer(int asked)
{
    return asked;
}

QString receiveDropsUnavailable()
{
    return QStringLiteral("Windows does not tell how many replies it dropped for want of receive "
                          "buffer: if devices are missing, scan again with more --probes");
}

} // namespace Platform
