#ifndef SCANNER_H
#define SCANNER_H

#include "deviceprotocol.h"
#include "failure.h"
#include "localinterfaces.h"
#include "options.h"
#include "scanreport.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <memory>
#include <optional>
#include <vector>

// One device reply as it was heard: what it says, which of our addresses it was heard on and
// when, in ms after the first probe.
struct Sighting
{
    DeviceProtocol::Reply reply;
    LocalAddress heardOn;
    qint64 atMs = 0;
};

// Probes the segment from a set of local addresses and reports every device reply heard.
//
// Probes go out as broadcasts from one socket per address, bound to it on the probe port (as
// the window binds them, shared, so both programs can scan at once; an ephemeral port when
// another program holds the probe port alone). Devices answer by broadcast to the device port,
// where one socket bound to the wildcard address with a large receive buffer takes every reply
// and reads all that is waiting each time it wakes up. The interface a reply arrived on
// (IP_PKTINFO) tells which of our addresses heard it.
class Scanner : public QObject
{
    Q_OBJECT

public:
    using Settings = Options::Probing; // --from is not read: `from` says where

    Scanner(const QList<LocalAddress> &from, const Settings &settings, QObject *parent = nullptr);
    ~Scanner() override;

    // Binds the sockets. A failure (network unusable) when the device port is held by another
    // program alone, or there is no address to probe from. What works but not as asked is
    // added to *warnings.
    std::optional<Failure> open(QList<HealthNote> *warnings);
    // Sends the first probe now; finished() follows the wait after the last one.
    void start();
    // Ends the scan early; finished() is emitted.
    void stop();

    const ScanFigures &figures() const { return m_figures; }
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

signals:
    void probeSent(int number);
    void heard(const Sighting &sighting);
    void finished();

private:
    void sendProbe();
    void readReplies();
    const LocalAddress *heardOn(const QNetworkDatagram &datagram, quint32 current) const;

    QList<LocalAddress> m_from;
    Settings m_settings;
    ScanFigures m_figures;
    QUdpSocket m_replySocket;
    std::vector<std::unique_ptr<QUdpSocket>> m_probeSockets;
    QTimer m_probeTimer;
    QTimer m_endTimer;
    QElapsedTimer m_clock;
    bool m_running = false;
    bool m_stopping = false;
};

#endif // SCANNER_H
