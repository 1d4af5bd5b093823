#ifndef REPLYQUEUE_H
#define REPLYQUEUE_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>

// Holds the discovery replies that are due later (random answer delay) or
// could not be sent yet (socket send buffer full during a large burst).
class ReplyQueue : public QObject
{
    Q_OBJECT

public:
    struct Entry
    {
        int device = 0;
        QString probe;
        int attempts = 0;
    };
    // Returns false when the datagram could not be sent now.
    using Sender = std::function<bool(const Entry &)>;

    explicit ReplyQueue(Sender sender, QObject *parent = nullptr);

    void schedule(int delayMs, Entry entry);

signals:
    void gaveUp(const ReplyQueue::Entry &entry);

private:
    void sendDue();
    void arm();

    static constexpr int RetryMs = 5;
    static constexpr int MaxAttempts = 400; // two seconds of retrying

    Sender m_send;
    std::multimap<qint64, Entry> m_pending;
    QElapsedTimer m_clock;
    qint64 m_backoffUntil = 0; // no sending before this, after a failed send
    QTimer m_timer;
};

#endif // REPLYQUEUE_H
