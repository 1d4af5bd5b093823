#ifndef FLOODERPROCESS_H
#define FLOODERPROCESS_H

#include "segment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <optional>

// tools/flooder (the FLOODER environment variable names it) run in the device namespace of
// segment 1, sending from the namespace's own address as a rogue device would.
class FlooderProcess
{
public:
    static QString source() { return Segment::words("VSEG_DEVICE_HOSTS").value(0); }

    bool start(const QStringList &arguments)
    {
        const QString program = qEnvironmentVariable("FLOODER");
        const QString ns = Segment::deviceNamespaces().value(0);
        if (program.isEmpty() || ns.isEmpty())
            return false;
        process.start(QStringLiteral("ip"),
                      QStringList { QStringLiteral("netns"), QStringLiteral("exec"), ns, program,
                                    QStringLiteral("--bind"), source() }
                          + arguments);
        return process.waitForStarted(5000);
    }

    // Waits, serving events, for the flood to end and returns its summary: one JSON object.
    std::optional<QJsonObject> summary(int timeout = 30000)
    {
        if (!QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, timeout))
            return std::nullopt;
        const QJsonDocument document = QJsonDocument::fromJson(process.readAllStandardOutput());
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0
            || !document.isObject())
            return std::nullopt;
        return document.object();
    }

    QByteArray errors() { return process.readAllStandardError(); }

    // Datagrams of one kind ("empty", "replay", ...) the summary says were sent.
    static qint64 sent(const QJsonObject &summary, const char *kind)
    {
        return summary.value(QLatin1String("sent"))
            .toObject()
            .value(QLatin1String(kind))
            .toInteger();
    }

private:
    QProcess process;
};

#endif // FLOODERPROCESS_H
