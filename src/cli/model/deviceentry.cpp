#include "deviceentry.h"

#include "addressrules.h"
#include "textescape.h"

QByteArray DeviceEntry::name() const
{
    return TextEscape::trimmedName(reply.name);
}

QString DeviceEntry::shownName() const
{
    return TextEscape::forTerminal(name());
}

QString DeviceEntry::label() const
{
    const QString shown = shownName();
    return shown.isEmpty() ? QStringLiteral("(no name)") : shown;
}

QString DeviceEntry::address() const
{
    return AddressRules::format(reply.currentAddress);
}

QString DeviceEntry::storedAddress() const
{
    return AddressRules::format(reply.storedAddress);
}

QString DeviceEntry::describe() const
{
    return QStringLiteral("%1, serial %2, %3").arg(label()).arg(reply.serial).arg(address());
}

QJsonObject DeviceEntry::identityJson() const
{
    return { { QStringLiteral("name"), QString::fromLatin1(name()) },
             { QStringLiteral("serial"), reply.serial },
             { QStringLiteral("address"), address() } };
}
