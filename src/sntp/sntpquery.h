#ifndef SNTPQUERY_H
#define SNTPQUERY_H

#include "sntpport.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QTimer;
class QUdpSocket;

// One SNTP (RFC 4330) query: client mode 3, 48 bytes, with a timeout and a number of retries.
// Every answer is treated as untrusted: a datagram that does not carry one of our transmit times
// in its originate field (too short to hold one, or holding another), or that comes from another
// address or port than the one asked, is ignored and counted (it may be stale or forged) and the
// query keeps waiting; an answer that carries our time but is malformed otherwise ends the query
// with a result that says what was wrong, never with a success. Only the first 48 bytes of an
// answer are read.
class SntpQuery : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        bool answered = false; // a valid server answer arrived
        QString error; // why not, in words a technician understands
        double offsetSeconds = 0; // server clock minus ours ((T2-T1)+(T3-T4))/2
        double delaySeconds = 0; // round trip (T4-T1)-(T3-T2)
        int stratum = 0;
        int leap = 0; // 3 = unsynchronised
        int version = 0;
        QString referenceId; // text for stratum 0/1 (kiss code or source), dotted address otherwise
        int attempts = 0;
        bool kissOfDeath = false; // the server refused us (stratum 0); referenceId is its code
        bool synchronised() const { return answered && leap != 3 && stratum >= 1 && stratum <= 15; }
    };

    // One request sent: our transmit timestamp as it went out, and our clock then.
    struct Sent
    {
        quint64 stamp = 0;
        quint64 sentAt = 0; // NTP format
    };

    // What an answer from the server says, arrived at `arrivedAt` (our clock, NTP format), or
    // nothing when it answers none of the requests `sent`. Reads no socket and no clock.
    static std::optional<Result> judge(const QByteArray &answer, const QList<Sent> &sent,
                                       quint64 arrivedAt);

    explicit SntpQuery(QObject *parent = nullptr);

    // Sends from `from` (any address when null) to server:port; finished() follows exactly once.
    // A start() while a query runs ends that one first (finished() with an error).
    void start(const QHostAddress &server, quint16 port = Sntp::port,
               const QHostAddress &from = QHostAddress(), int timeoutMs = 1500, int retries = 1);

signals:
    void finished(const SntpQuery::Result &result);

private:
    void sendRequest();
    void readAnswers();
    void onTimeout();
    void failLater(const QString &error);
    void finish(Result result);

    QUdpSocket *m_socket = nullptr;
    QTimer *m_timer = nullptr;
    QHostAddress m_server;
    quint16 m_port = Sntp::port;
    int m_timeoutMs = 1500;
    int m_retries = 1;
    bool m_running = false;
    quint64 m_generation = 0; // tells a stale deferred failure from the current query's
    QList<Sent> m_sent;
    QString m_sendError; // why the last request could not be sent
    int m_ignored = 0; // datagrams from the server that answer none of our requests
};

Q_DECLARE_METATYPE(SntpQuery::Result)

#endif // SNTPQUERY_H
