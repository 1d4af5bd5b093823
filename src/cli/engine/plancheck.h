#ifndef PLANCHECK_H
#define PLANCHECK_H

#include "inventory.h"
#include "plan.h"

#include <QList>
#include <QMultiHash>
#include <QStringList>

#include <optional>

// One plan line matched against a scan: the device it names, and every reason it must not be
// sent.
struct PlanStep
{
    PlanLine line;
    std::optional<DeviceEntry> device; // the one device heard with the line's serial
    QStringList faults;

    bool sound() const { return faults.isEmpty(); }
    // The device already stores the planned address: nothing to send for it.
    bool addressInEffect() const;
    // "line 4 (serial 65536)"
    QString where() const;
};

// Checks a whole plan before anything is sent. A line is faulty when it cannot be read, when
// its serial is listed twice, unknown, or heard at more than one address, when the device has
// no address to reach it on, or when its new address is one the device must not be given (see
// AddressRules::refusal), is planned for another device too, or is in use: by a device the plan
// leaves where it is, or by this machine.
namespace PlanCheck {

QList<PlanStep> check(const QList<PlanLine> &lines, const QList<DeviceEntry> &devices,
                      const QList<LocalAddress> &localAddresses);

// Who among `devices` holds each address, now or from its next restart: its current address,
// and a stored address it has not taken yet, each described for a person.
QMultiHash<quint32, QString> deviceHolders(const QList<DeviceEntry> &devices);

} // namespace PlanCheck

#endif // PLANCHECK_H
