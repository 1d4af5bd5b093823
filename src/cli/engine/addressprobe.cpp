#include "addressprobe.h"

#include "platform.h"

QList<AddressHolder> AddressProbe::probe(const QList<quint32> &addresses, const LocalAddress &via)
{
    QList<quint32> own;
    for (const LocalAddress &local : LocalInterfaces::ipv4Addresses())
        own.append(local.ipv4());

    QList<AddressHolder> holders(addresses.size());
    QList<quint32> asked;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        if (own.contains(addresses.at(i)))
            holders[i] = { AddressHolder::State::InUse, QStringLiteral("this workstation"), {} };
        else
            asked.append(addresses.at(i));
    }
    const QList<Platform::AddressUse> uses = Platform::probeAddresses(asked, via.ipv4());
    qsizetype next = 0;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        if (own.contains(addresses.at(i)))
            continue;
        const Platform::AddressUse &use = uses.at(next++);
        switch (use.state) {
        case Platform::AddressUse::State::Free:
            holders[i] = { AddressHolder::State::Free, {}, {} };
            break;
        case Platform::AddressUse::State::InUse:
            holders[i] = { AddressHolder::State::InUse, use.hardwareAddress, {} };
            break;
        case Platform::AddressUse::State::CannotTell:
            holders[i] = { AddressHolder::State::CannotTell, {}, use.reason };
            break;
        }
    }
    return holders;
}
