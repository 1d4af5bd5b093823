#ifndef SIMULATORPROCESS_H
#define SIMULATORPROCESS_H

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <QUdpSocket>

#include <functional>

// The device simulator running in a device namespace of the virtual segment. Its JSON event
// lines are collected as they arrive, so a test can wait for what the devices saw.
class SimulatorProcess : public QObject
{
    Q_OBJECT

public:
    explicit SimulatorProcess(QObject *parent = nullptr)
        : QObject(parent)
    {
        connect(&process, &QProcess::readyReadStandardOutput, this, &SimulatorProcess::readEvents);
        process.setProcessChannelMode(QProcess::SeparateChannels);
    }

    ~SimulatorProcess() override { stop(); }

    // Starts the simulator with `arguments` in device namespace `segment` (1-based) and waits
    // until it has bound its sockets.
    bool start(const QStringList &arguments, int segment = 1)
    {
        const QStringList namespaces = QString::fromLocal8Bit(qgetenv("VSEG_DEVICE_NS"))
                                           .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString program = QString::fromLocal8Bit(qgetenv("DEVICESIM"));
        if (segment > namespaces.size() || program.isEmpty())
            return false;
        received.clear();
        process.start(QStringLiteral("ip"),
                      QStringList { QStringLiteral("netns"), QStringLiteral("exec"),
                                    namespaces.at(segment - 1), program }
                          + arguments);
        if (!process.waitForStarted(5000))
            return false;
        return waitFor(
            [](const QJsonObject &event) { return kind(event) == QLatin1String("ready"); }, 10000);
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }

    bool isRunning() const { return process.state() == QProcess::Running; }

    static QString kind(const QJsonObject &event)
    {
        return event.value(QLatin1String("event")).toString();
    }

    QList<QJsonObject> events(const QString &eventKind) const
    {
        QList<QJsonObject> matching;
        for (const QJsonObject &event : received) {
            if (kind(event) == eventKind)
                matching.append(event);
        }
        return matching;
    }

    void clear() { received.clear(); }

    bool waitFor(const std::function<bool(const QJsonObject &)> &predicate, int timeout = 10000)
    {
        return QTest::qWaitFor(
            [&] { return std::any_of(received.cbegin(), received.cend(), predicate); }, timeout);
    }

    bool waitForCount(const QString &eventKind, int count, int timeout = 10000)
    {
        return QTest::qWaitFor([&] { return events(eventKind).size() >= count; }, timeout);
    }

    // Waits until the simulator has logged everything sent to it from `from` to `to`:`port`
    // before this call. Datagrams on one path arrive in order, so it sends one that no device
    // takes down the same path and waits for its rejection (which is logged like any other). Use
    // the broadcast address and the probe port to follow probes, a device's address and the device
    // port to follow commands.
    bool sync(const QHostAddress &from, const QHostAddress &to, quint16 port, int timeout = 5000)
    {
        QUdpSocket marker;
        if (!marker.bind(from, 0) || marker.writeDatagram(QByteArrayLiteral("sync"), to, port) != 4)
            return false;
        const int markerPort = marker.localPort();
        return waitFor(
            [markerPort](const QJsonObject &event) {
                return kind(event) == QLatin1String("rejected")
                    && event.value(QLatin1String("from_port")).toInt() == markerPort;
            },
            timeout);
    }

    QByteArray errors() { return process.readAllStandardError(); }

private:
    void readEvents()
    {
        while (process.canReadLine()) {
            const QJsonDocument line = QJsonDocument::fromJson(process.readLine());
            if (line.isObject())
                received.append(line.object());
        }
    }

    QProcess process;
    QList<QJsonObject> received;
};

#endif // SIMULATORPROCESS_H
