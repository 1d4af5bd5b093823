#include "clockcheck.h"

#include "sntpquery.h"

#include <QEventLoop>
#include <QTimer>

#include <cmath>

namespace ClockCheck {

namespace {

    constexpr quint16 sntpPort = 123;
    // A device applies a command as it arrives; the pause only keeps the query from overtaking it.
    constexpr int settleMs = 200;
    constexpr int timeoutMs = 1500;
    constexpr int retries = 2;

    QString seconds(double value)
    {
        return QStringLiteral("%1%2 s")
            .arg(value >= 0 ? QStringLiteral("+") : QString())
            .arg(value, 0, 'f', 3);
    }

} // namespace

Verification run(const DeviceEntry &device, double toleranceSeconds)
{
    SntpQuery query;
    SntpQuery::Result result;
    QEventLoop loop;
    QObject::connect(&query, &SntpQuery::finished, &loop, [&](const SntpQuery::Result &answer) {
        result = answer;
        loop.quit();
    });
    QTimer::singleShot(settleMs, &loop, [&] {
        query.start(QHostAddress(device.reply.currentAddress), sntpPort, device.heardOn.address,
                    timeoutMs, retries);
    });
    loop.exec();

    QJsonObject figures { { QStringLiteral("tolerance_s"), toleranceSeconds },
                          { QStringLiteral("attempts"), result.attempts } };
    if (!result.answered)
        return Verification::cannotVerify(
            QStringLiteral("no usable SNTP answer from %1 port %2: %3")
                .arg(device.address())
                .arg(sntpPort)
                .arg(result.error),
            figures);
    figures.insert(QStringLiteral("offset_s"), result.offsetSeconds);
    figures.insert(QStringLiteral("delay_s"), result.delaySeconds);
    figures.insert(QStringLiteral("stratum"), result.stratum);
    figures.insert(QStringLiteral("leap"), result.leap);
    const QString seen
        = QStringLiteral("the device's clock is %1 from ours (tolerance %2 s; "
                         "SNTP stratum %3%4)")
              .arg(seconds(result.offsetSeconds))
              .arg(toleranceSeconds)
              .arg(result.stratum)
              .arg(result.synchronised() ? QString() : QStringLiteral(", unsynchronised"));
    if (std::fabs(result.offsetSeconds) <= toleranceSeconds)
        return Verification::passed(seen, figures);
    return Verification::failed(seen, figures);
}

} // namespace ClockCheck
