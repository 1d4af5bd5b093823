#include "scanwords.h"

namespace ScanWords {

QString progress(const ScanProgress &progress)
{
    return QStringLiteral("scanning from %1: probe %2/%3, %4 device(s)")
        .arg(progress.from.size() == 1 ? progress.from.first().describe()
                                       : QStringLiteral("%1 addresses").arg(progress.from.size()))
        .arg(progress.probesSent)
        .arg(progress.probes)
        .arg(progress.devices);
}

QString nothingAnswered()
{
    return QStringLiteral("no device answered");
}

} // namespace ScanWords
