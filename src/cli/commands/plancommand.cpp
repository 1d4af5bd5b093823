#include "plancommand.h"

#include "addressprobe.h"
#include "console.h"
#include "engineconsole.h"
#include "plan.h"
#include "scanrun.h"

#include <QHash>
#include <QSet>

namespace PlanCommand {

namespace {

    using AddressRules::format;

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
        bool isFree(quint32 address) const { return !m_taken.contains(address); }
        void take(quint32 address) { m_taken.insert(address); }

        std::optional<quint32> next(const AddressRules::Subnet &subnet)
        {
            // One cursor per subnet: what one subnet skipped may suit another.
            const quint64 key = quint64(subnet.network) << 8 | quint64(subnet.prefixLength);
            quint64 candidate = m_cursors.value(key, m_first);
            for (; candidate <= m_last; ++candidate) {
                const quint32 address = quint32(candidate);
                if (isFree(address) && AddressRules::refusal(address, subnet).isEmpty()) {
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
            const quint64 key = quint64(subnet.network) << 8 | quint64(subnet.prefixLength);
            quint64 candidate = m_asked.value(key, m_first);
            QList<quint32> found;
            for (; candidate <= m_last && found.size() < count; ++candidate) {
                const quint32 address = quint32(candidate);
                if (isFree(address) && AddressRules::refusal(address, subnet).isEmpty())
                    found.append(address);
            }
            m_asked.insert(key, candidate);
            return found;
        }

    private:
        quint32 m_first;
        quint32 m_last;
        QSet<quint32> m_taken;
        QHash<quint64, quint64> m_cursors;
        QHash<quint64, quint64> m_asked;
    };

    // A stored address that another host answers for is not kept: the device would clash with
    // that host at its next restart. Its own current address is not asked about.
    void dropKeptAddressesInUse(const QList<DeviceEntry> &devices, QHash<int, quint32> *kept)
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
        const QList<AddressHolder> holders = EngineConsole::probe(requests);
        for (int k = 0; k < asked.size(); ++k) {
            if (holders.at(k).state != AddressHolder::State::InUse)
                continue;
            Console::warning(
                QStringLiteral("%1 is given another address than the one it stores: %2")
                    .arg(devices.at(asked.at(k)).describe(),
                         AddressProbe::inUseText(requests.at(k).address, holders.at(k),
                                                 requests.at(k).via)));
            kept->remove(asked.at(k));
        }
    }

    // Takes from the pool every address that another host already answers for, asking each
    // link about as many candidates as its devices need, again for those found taken.
    void takeAddressesInUse(const QHash<quint32, int> &needed,
                            const QHash<quint32, LocalAddress> &links, AddressPool *pool)
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
                const QList<AddressHolder> holders = EngineConsole::probe(requests);
                for (int k = 0; k < batch.size(); ++k) {
                    const AddressHolder &holder = holders.at(k);
                    if (holder.state == AddressHolder::State::InUse) {
                        pool->take(batch.at(k));
                        Console::warning(
                            QStringLiteral("not handed out: %1")
                                .arg(AddressProbe::inUseText(batch.at(k), holder, via)));
                        continue;
                    }
                    --wanted;
                }
            }
        }
    }

} // namespace

Expected<ExitStatus> run(const Options::Plan &options)
{
    const Expected<ScanReport> found = EngineConsole::firstScan(options.probing);
    if (!found)
        return found.failure();
    const ScanReport &scan = *found;

    QSet<quint32> inUse;
    QHash<qint32, int> sightings;
    for (const DeviceEntry &device : std::as_const(scan.devices)) {
        inUse.insert(device.reply.currentAddress);
        inUse.insert(device.reply.storedAddress);
        ++sightings[device.reply.serial];
    }
    for (const LocalAddress &local : LocalInterfaces::ipv4Addresses())
        inUse.insert(local.ipv4());
    AddressPool pool(options.rangeFirst, options.rangeLast, inUse);

    // A device that already stores an address of the range keeps it, so that planning a
    // commissioned segment again plans nothing new; the first of two devices storing the same
    // address keeps it.
    QHash<int, quint32> kept;
    QSet<quint32> claimed;
    for (int i = 0; i < scan.devices.size(); ++i) {
        const DeviceEntry &device = scan.devices.at(i);
        const quint32 stored = device.reply.storedAddress;
        if (pool.contains(stored) && !claimed.contains(stored)
            && AddressRules::refusal(stored, device.heardOn.subnet()).isEmpty()) {
            kept.insert(i, stored);
            claimed.insert(stored);
        }
    }

    dropKeptAddressesInUse(scan.devices, &kept);

    QHash<quint32, int> needed;
    QHash<quint32, LocalAddress> links;
    for (int i = 0; i < scan.devices.size(); ++i) {
        const DeviceEntry &device = scan.devices.at(i);
        if (kept.contains(i) || device.reply.currentAddress == 0)
            continue;
        ++needed[device.heardOn.ipv4()];
        links.insert(device.heardOn.ipv4(), device.heardOn);
    }
    takeAddressesInUse(needed, links, &pool);

    QList<Plan::Entry> entries;
    QStringList unplanned;
    for (int i = 0; i < scan.devices.size(); ++i) {
        const DeviceEntry &device = scan.devices.at(i);
        if (device.reply.currentAddress == 0) {
            unplanned.append(
                QStringLiteral("%1: it reports 0.0.0.0 as its address, no command can reach it")
                    .arg(device.describe()));
            continue;
        }
        const std::optional<quint32> address
            = kept.contains(i) ? kept.value(i) : pool.next(device.heardOn.subnet());
        if (!address) {
            unplanned.append(QStringLiteral("%1: no free address of %2-%3 left in %4, the subnet "
                                            "it was heard on")
                                 .arg(device.describe(), format(options.rangeFirst),
                                      format(options.rangeLast), device.heardOn.subnet().text()));
            continue;
        }
        entries.append({ device, *address, options.setTime });
        if (sightings.value(device.reply.serial) > 1)
            Console::warning(QStringLiteral("serial %1 answers at more than one address: apply "
                                            "refuses its lines until the devices carry serials "
                                            "of their own")
                                 .arg(device.reply.serial));
    }
    Console::result(Plan::write(entries));

    if (scan.devices.isEmpty()) {
        Console::error(QStringLiteral("no device answered: the plan is empty"));
        return ExitStatus::DeviceNotFound;
    }
    for (const QString &text : std::as_const(unplanned))
        Console::error(QStringLiteral("not planned: ") + text);
    return unplanned.isEmpty() ? ExitStatus::Success : ExitStatus::PlanFaults;
}

} // namespace PlanCommand
