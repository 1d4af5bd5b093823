#include "addresswords.h"

namespace AddressWords {

QString inUse(const AddressHolding &holding)
{
    if (!holding.device.isEmpty())
        return QStringLiteral("%1 is in use by %2, which answers for it on the link of %3")
            .arg(AddressRules::format(holding.address), holding.device, holding.via.describe());
    const QString who = holding.workstation ? QStringLiteral("this workstation")
        : holding.hardwareAddress.isEmpty()
        ? QStringLiteral("a host")
        : QStringLiteral("a host at %1").arg(holding.hardwareAddress);
    return QStringLiteral("%1 is in use: %2 answers for it on the link of %3")
        .arg(AddressRules::format(holding.address), who, holding.via.describe());
}

QString objection(const AddressObjection &objection)
{
    switch (objection.kind) {
    case AddressObjection::Kind::None:
        break;
    case AddressObjection::Kind::Refused:
        return objection.refusal;
    case AddressObjection::Kind::HeldByDevices:
        return QStringLiteral("%1 is in use by %2")
            .arg(AddressRules::format(objection.address),
                 objection.devices.join(QStringLiteral("; ")));
    case AddressObjection::Kind::HeldByHost:
        return inUse(objection.holding);
    }
    return QString();
}

} // namespace AddressWords
