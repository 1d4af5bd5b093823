#include "localaddress.h"

QString LocalAddress::describe() const
{
    return interfaceName.isEmpty()
        ? address.toString()
        : QStringLiteral("%1 (%2)").arg(address.toString(), interfaceName);
}

QJsonObject LocalAddress::toJson() const
{
    return { { QStringLiteral("address"), address.toString() },
             { QStringLiteral("interface"), interfaceName },
             { QStringLiteral("subnet"), subnet().text() } };
}
