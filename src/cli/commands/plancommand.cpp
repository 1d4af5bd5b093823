#include "plancommand.h"

#include "console.h"
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

    private:
        quint32 m_first;
        quint32 m_last;
        QSet<quint32> m_taken;
        QHash<quint64, quint64> m_cursors;
    };

} // namespace

Expected<ExitStatus> run(const Options::Plan &options)
{
    const Expected<ScanReport> found = ScanRun::firstScan(options.probing);
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
