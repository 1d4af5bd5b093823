#include "plancheck.h"

#include <QHash>
#include <QMultiHash>
#include <QSet>

using AddressRules::format;

bool PlanStep::addressInEffect() const
{
    return line.newAddress && device && device->reply.storedAddress == *line.newAddress;
}

QString PlanStep::where() const
{
    return line.fault.isEmpty() || line.serial != 0
        ? QStringLiteral("line %1 (serial %2)").arg(line.lineNumber).arg(line.serial)
        : QStringLiteral("line %1").arg(line.lineNumber);
}

namespace PlanCheck {

namespace {

    QString lineNumbers(const QList<int> &numbers)
    {
        QStringList texts;
        for (const int number : numbers)
            texts.append(QString::number(number));
        return texts.join(QStringLiteral(", "));
    }

    // Who holds an address now or after a restart, besides the devices the plan moves away:
    // a device keeps its current and stored addresses unless the plan gives it a new one.
    QMultiHash<quint32, QString> addressesInUse(const QList<DeviceEntry> &devices,
                                                const QSet<qint32> &moved,
                                                const QList<LocalAddress> &localAddresses)
    {
        QList<DeviceEntry> staying;
        for (const DeviceEntry &device : devices) {
            if (!moved.contains(device.reply.serial))
                staying.append(device);
        }
        QMultiHash<quint32, QString> holders = deviceHolders(staying);
        for (const LocalAddress &local : localAddresses)
            holders.insert(local.ipv4(), QStringLiteral("this machine (%1)").arg(local.describe()));
        return holders;
    }

    QList<PlanStep> checkOnce(const QList<PlanLine> &lines, const QList<DeviceEntry> &devices,
                              const QList<LocalAddress> &localAddresses, const QSet<qint32> &moved)
    {
        QMultiHash<qint32, int> linesBySerial;
        QMultiHash<quint32, int> linesByAddress;
        for (const PlanLine &line : lines) {
            if (!line.fault.isEmpty())
                continue;
            linesBySerial.insert(line.serial, line.lineNumber);
            if (line.newAddress)
                linesByAddress.insert(*line.newAddress, line.lineNumber);
        }
        QMultiHash<qint32, DeviceEntry> heard;
        for (const DeviceEntry &device : devices)
            heard.insert(device.reply.serial, device);
        const QMultiHash<quint32, QString> inUse = addressesInUse(devices, moved, localAddresses);

        QList<PlanStep> steps;
        for (const PlanLine &line : lines) {
            PlanStep step { line, std::nullopt, {} };
            if (!line.fault.isEmpty()) {
                step.faults.append(line.fault);
                steps.append(step);
                continue;
            }
            QList<int> sameSerial = linesBySerial.values(line.serial);
            if (sameSerial.size() > 1) {
                std::sort(sameSerial.begin(), sameSerial.end());
                step.faults.append(QStringLiteral("serial %1 is planned on lines %2")
                                       .arg(line.serial)
                                       .arg(lineNumbers(sameSerial)));
            }
            const QList<DeviceEntry> found = heard.values(line.serial);
            if (found.isEmpty()) {
                step.faults.append(
                    QStringLiteral("no device with serial %1 answered the scan").arg(line.serial));
            } else if (found.size() > 1) {
                QStringList where;
                for (const DeviceEntry &device : found)
                    where.append(device.address());
                where.sort();
                step.faults.append(QStringLiteral("serial %1 answers at %2: two devices carry one "
                                                  "serial, so the plan cannot tell them apart")
                                       .arg(line.serial)
                                       .arg(where.join(QStringLiteral(" and "))));
            } else {
                step.device = found.first();
            }
            if (step.device && step.device->reply.currentAddress == 0)
                step.faults.append(QStringLiteral("the device reports 0.0.0.0 as its address: no "
                                                  "command can reach it"));

            if (line.newAddress) {
                const quint32 address = *line.newAddress;
                if (step.device) {
                    const QString refusal
                        = AddressRules::refusal(address, step.device->heardOn.subnet());
                    if (!refusal.isEmpty())
                        step.faults.append(refusal);
                }
                QList<int> sameAddress = linesByAddress.values(address);
                if (sameAddress.size() > 1) {
                    std::sort(sameAddress.begin(), sameAddress.end());
                    step.faults.append(QStringLiteral("%1 is planned for lines %2")
                                           .arg(format(address), lineNumbers(sameAddress)));
                }
                QStringList holders = inUse.values(address);
                holders.sort();
                holders.removeDuplicates();
                if (!holders.isEmpty())
                    step.faults.append(
                        QStringLiteral("%1 is in use by %2")
                            .arg(format(address), holders.join(QStringLiteral("; "))));
            }
            steps.append(step);
        }
        return steps;
    }

    QSet<qint32> movedBy(const QList<PlanStep> &steps)
    {
        QSet<qint32> moved;
        for (const PlanStep &step : steps) {
            if (step.sound() && step.line.newAddress)
                moved.insert(step.line.serial);
        }
        return moved;
    }

} // namespace

QMultiHash<quint32, QString> deviceHolders(const QList<DeviceEntry> &devices)
{
    QMultiHash<quint32, QString> holders;
    for (const DeviceEntry &device : devices) {
        holders.insert(device.reply.currentAddress, device.describe());
        if (device.reply.storedAddress != device.reply.currentAddress)
            holders.insert(device.reply.storedAddress,
                           device.describe()
                               + QStringLiteral(", as its stored address, which it takes at its "
                                                "next restart"));
    }
    return holders;
}

QList<PlanStep> check(const QList<PlanLine> &lines, const QList<DeviceEntry> &devices,
                      const QList<LocalAddress> &localAddresses)
{
    // A device only leaves its address free when its own line is sent. A faulty line keeps its
    // device where it is, which may make another line's address taken: check again until no
    // more lines turn faulty.
    QSet<qint32> moved;
    for (const PlanLine &line : lines) {
        if (line.fault.isEmpty() && line.newAddress)
            moved.insert(line.serial);
    }
    QList<PlanStep> steps = checkOnce(lines, devices, localAddresses, moved);
    for (QSet<qint32> sound = movedBy(steps); sound != moved; sound = movedBy(steps)) {
        moved = sound;
        steps = checkOnce(lines, devices, localAddresses, moved);
    }
    return steps;
}

} // namespace PlanCheck
