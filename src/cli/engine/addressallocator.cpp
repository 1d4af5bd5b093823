#include "addressallocator.h"

#include "addressrules.h"

#include <QHash>

namespace AddressAllocator {

namespace {

    // Hands out the addresses of a range in order, skipping those in use and those a device
    // on the given subnet must not be given.
    class AddressPool
    {
    public:
        AddressPool(quint32 first, quint32 last, const QSet<quint32> &inUse)
            : m_first(first)
            , m_last(last)
            , m_taken(inUse)
        { }

        bool contains(quint32 address) const { return address >= m_first && address <= m_last; }
        void take(quint32 address) { m_taken.insert(address); }

        std::optional<quint32> next(const AddressRules::Subnet &subnet)
        {
            // One cursor per subnet: what one subnet skipped may suit another.
            const quint64 key = keyOf(subnet);
            quint64 candidate = m_cursors.value(key, m_first);
            for (; candidate <= m_last; ++candidate) {
                const quint32 address = quint32(candidate);
                if (fits(address, subnet)) {
                    take(address);
                    m_cursors.insert(key, candidate + 1);
                    return address;
                }
            }
            m_cursors.insert(key, candidate);
            return std::nullopt;
        }

        // The next `count` addresses that next() could hand out on `subnet` and that were not
        // returned here before: those to ask the link about.
        QList<quint32> unasked(const AddressRules::Subnet &subnet, int count)
        {
            const quint64 key = keyOf(subnet);
            quint64 candidate = m_asked.value(key, m_first);
            QList<quint32> found;
            for (; candidate <= m_last && found.size() < count; ++candidate) {
                if (fits(quint32(candidate), subnet))
                    found.append(quint32(candidate));
            }
            m_asked.insert(key, candidate);
            return found;
        }

    private:
        static quint64 keyOf(const AddressRules::Subnet &subnet)
        {
            return quint64(subnet.network) << 8 | quint64(subnet.prefixLength);
        }
        bool fits(quint32 address, const AddressRules::Subnet &subnet) const
        {
            return !m_taken.contains(address) && AddressRules::refusal(address, subnet).isEmpty();
        }

        quint32 m_first;
        quint32 m_last;
        QSet<quint32> m_taken;
        QHash<quint64, quint64> m_cursors;
        QHash<quint64, quint64> m_asked;
    };

    // A stored address that another host answers for is not kept: the device would clash with
    // that host at its next restart. Its own current address is not asked about.
    void dropKeptAddressesInUse(const QList<DeviceEntry> &devices, const Probe &probe,
                                const Warn &warn, QHash<int, quint32> *kept)
    {
        QList<int> asked;
        QList<AddressProbe::Request> requests;
        for (auto entry = kept->cbegin(); entry != kept->cend(); ++entry) {
            const DeviceEntry &device = devices.at(entry.key());
            if (entry.value() != device.reply.currentAddress) {
                asked.append(entry.key());
                requests.append({ entry.value(), device.heardOn });
            }
        }
        const QList<AddressHolder> holders = probe(requests);
        for (int k = 0; k < asked.size(); ++k) {
            if (holders.at(k).state != AddressHolder::State::InUse)
                continue;
            warn({ PlanWarning::Kind::KeptAddressInUse,
                   AddressProbe::holding(requests.at(k), holders.at(k), devices),
                   devices.at(asked.at(k)).describe(), 0 });
            kept->remove(asked.at(k));
        }
    }

    // Takes from the pool every address that another host already answers for, asking each
    // link about as many candidates as its devices need, again for those found taken.
    void takeAddressesInUse(const QHash<quint32, int> &needed,
                            const QHash<quint32, LocalAddress> &links,
                            const QList<DeviceEntry> &devices, const Probe &probe, const Warn &warn,
                            AddressPool *pool)
    {
        for (auto link = needed.cbegin(); link != needed.cend(); ++link) {
            const LocalAddress &via = links.value(link.key());
            int wanted = link.value();
            while (wanted > 0) {
                const QList<quint32> batch = pool->unasked(via.subnet(), wanted);
                if (batch.isEmpty())
                    break;
                QList<AddressProbe::Request> requests;
                for (const quint32 address : batch)
                    requests.append({ address, via });
                const QList<AddressHolder> holders = probe(requests);
                for (int k = 0; k < batch.size(); ++k) {
                    const AddressHolder &holder = holders.at(k);
                    if (holder.state == AddressHolder::State::InUse) {
                        pool->take(batch.at(k));
                        warn({ PlanWarning::Kind::NotHandedOut,
                               AddressProbe::holding(requests.at(k), holder, devices),
                               {},
                               0 });
                        continue;
                    }
                    --wanted;
                }
            }
        }
    }

    PlanRow rowOf(const DeviceEntry &device, quint32 address, bool setTime)
    {
        return { device.reply.serial,
                 device.shownName(),
                 QString::fromLatin1(device.name()),
                 device.address(),
                 device.storedAddress(),
                 address,
                 setTime };
    }

} // namespace

Allocation allocate(const Request &request, const Probe &probe, const Warn &warn)
{
    const QList<DeviceEntry> &devices = request.devices;
    QSet<quint32> inUse = request.localAddresses;
    QHash<qint32, int> sightings;
    for (const DeviceEntry &device : devices) {
        inUse.insert(device.reply.currentAddress);
        inUse.insert(device.reply.storedAddress);
        ++sightings[device.reply.serial];
    }
    AddressPool pool(request.first, request.last, inUse);
    Allocation allocation;

    // A device that already stores an address of the range keeps it, so that planning a
    // commissioned segment again plans nothing new; the first of two devices storing the same
    // address keeps it.
    QHash<int, quint32> kept;
    QSet<quint32> claimed;
    for (int i = 0; i < devices.size(); ++i) {
        const DeviceEntry &device = devices.at(i);
        const quint32 stored = device.reply.storedAddress;
        if (pool.contains(stored) && !claimed.contains(stored)
            && AddressRules::refusal(stored, device.heardOn.subnet()).isEmpty()) {
            kept.insert(i, stored);
            claimed.insert(stored);
        }
    }
    dropKeptAddressesInUse(devices, probe, warn, &kept);

    QHash<quint32, int> needed;
    QHash<quint32, LocalAddress> links;
    for (int i = 0; i < devices.size(); ++i) {
        const DeviceEntry &device = devices.at(i);
        if (kept.contains(i) || device.reply.currentAddress == 0)
            continue;
        ++needed[device.heardOn.ipv4()];
        links.insert(device.heardOn.ipv4(), device.heardOn);
    }
    takeAddressesInUse(needed, links, devices, probe, warn, &pool);

    for (int i = 0; i < devices.size(); ++i) {
        const DeviceEntry &device = devices.at(i);
        const QString subnet = device.heardOn.subnet().text();
        if (device.reply.currentAddress == 0) {
            allocation.unplanned.append(
                { device.describe(), UnplannedDevice::Reason::Unreachable, subnet });
            continue;
        }
        const std::optional<quint32> address
            = kept.contains(i) ? kept.value(i) : pool.next(device.heardOn.subnet());
        if (!address) {
            allocation.unplanned.append(
                { device.describe(), UnplannedDevice::Reason::RangeUsedUp, subnet });
            continue;
        }
        allocation.rows.append(rowOf(device, *address, request.setTime));
        // Once per serial, however many addresses it answers at.
        if (sightings.value(device.reply.serial) > 1) {
            warn({ PlanWarning::Kind::SerialTwice, {}, {}, device.reply.serial });
            sightings.insert(device.reply.serial, 1);
        }
    }
    return allocation;
}

QStringList subnetsMissed(const Request &request)
{
    QStringList subnets;
    for (const DeviceEntry &device : request.devices) {
        const AddressRules::Subnet subnet = device.heardOn.subnet();
        if (request.first <= subnet.broadcast() && request.last >= subnet.network)
            return {};
        if (!subnets.contains(subnet.text()))
            subnets.append(subnet.text());
    }
    return subnets;
}

} // namespace AddressAllocator
