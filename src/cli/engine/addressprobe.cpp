#include "addressprobe.h"

#include "addressrules.h"
#include "platform.h"

#include <QHash>

namespace {

// The addresses of one link.
QList<AddressHolder> probeLink(const QList<quint32> &addresses, const LocalAddress &via)
{
    QList<quint32> own;
    for (const LocalAddress &local : LocalInterfaces::ipv4Addresses())
        own.append(local.ipv4());

    QList<AddressHolder> holders(addresses.size());
    QList<quint32> asked;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        if (own.contains(addresses.at(i)))
            holders[i] = { AddressHolder::State::InUse, {}, true, {} };
        else
            asked.append(addresses.at(i));
    }
    const QList<Platform::AddressUse> uses
        = Platform::probeAddresses(asked, via.ipv4(), via.interfaceIndex);
    qsizetype next = 0;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        if (own.contains(addresses.at(i)))
            continue;
        const Platform::AddressUse &use = uses.at(next++);
        switch (use.state) {
        case Platform::AddressUse::State::Free:
            holders[i] = { AddressHolder::State::Free, {}, false, {} };
            break;
        case Platform::AddressUse::State::InUse:
            holders[i] = { AddressHolder::State::InUse, use.hardwareAddress, false, {} };
            break;
        case Platform::AddressUse::State::CannotTell:
            holders[i] = { AddressHolder::State::CannotTell, {}, false, use.reason };
            break;
        }
    }
    return holders;
}

} // namespace

QList<AddressHolder> AddressProbe::probe(const QList<Request> &requests)
{
    // A link is an interface with one of our addresses on it: the same address may sit on two
    // interfaces (two plant networks numbered alike).
    QHash<std::pair<int, quint32>, QList<qsizetype>> byLink;
    for (qsizetype i = 0; i < requests.size(); ++i)
        byLink[{ requests.at(i).via.interfaceIndex, requests.at(i).via.ipv4() }].append(i);
    QList<AddressHolder> holders(requests.size());
    for (const QList<qsizetype> &indexes : std::as_const(byLink)) {
        QList<quint32> addresses;
        for (const qsizetype i : indexes)
            addresses.append(requests.at(i).address);
        const QList<AddressHolder> answers = probeLink(addresses, requests.at(indexes.first()).via);
        for (qsizetype k = 0; k < indexes.size(); ++k)
            holders[indexes.at(k)] = answers.at(k);
    }
    return holders;
}

QList<HealthNote> AddressProbe::warnings(const QList<Request> &requests,
                                         const QList<AddressHolder> &holders)
{
    QList<HealthNote> notes;
    for (qsizetype i = 0; i < requests.size() && i < holders.size(); ++i) {
        if (holders.at(i).state == AddressHolder::State::CannotTell)
            notes.append(
                { QStringLiteral("address-use-unknown"),
                  QStringLiteral("cannot tell whether another host holds %1: %2")
                      .arg(AddressRules::format(requests.at(i).address), holders.at(i).reason) });
    }
    return notes;
}

AddressHolding AddressProbe::holding(const Request &request, const AddressHolder &holder,
                                     const QList<DeviceEntry> &heard)
{
    AddressHolding holding {
        request.address, holder.hardwareAddress, holder.workstation, request.via, {}
    };
    for (const DeviceEntry &device : heard) {
        if (!holder.workstation && device.reply.currentAddress == request.address
            && device.heardOn.ipv4() == request.via.ipv4()) {
            holding.device
                = QStringLiteral("%1 (serial %2)").arg(device.label()).arg(device.reply.serial);
            break;
        }
    }
    return holding;
}
