#include "localaddress.h"

QString LocalAddress::describe() const
{
    return interfaceName.isEmpty()
        ? address.toString()
        : QStringLiteral("%1 (%2)").arg(address.toString(), interfaceName);
}
