#include "units.h"

namespace Units {

QString signedSeconds(double seconds, int decimals)
{
    return QStringLiteral("%1%2 s")
        .arg(seconds >= 0 ? QStringLiteral("+") : QString())
        .arg(seconds, 0, 'f', decimals);
}

} // namespace Units
