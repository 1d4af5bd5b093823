#ifndef CLIRUN_H
#define CLIRUN_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// setuptool-cli as a user runs it: the built program (SETUPTOOL_CLI), its exit status and both
// output streams. Scans wait half a second for replies unless the arguments say --wait; the
// simulated devices answer within milliseconds.
struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    // For a failed QVERIFY2: everything the run said.
    QByteArray text() const
    {
        return QStringLiteral("exit %1\nstdout:\n%2\nstderr:\n%3")
            .arg(exitCode)
            .arg(QString::fromUtf8(out), QString::fromUtf8(err))
            .toUtf8();
    }
};

inline CliRun runCli(QStringList arguments, const QByteArray &input = QByteArray(),
                     int timeoutMs = 30000)
{
    if (!arguments.isEmpty() && !arguments.contains(QStringLiteral("--help"))
        && !arguments.contains(QStringLiteral("--wait")))
        arguments << QStringLiteral("--wait") << QStringLiteral("500");
    QProcess process;
    process.start(QString::fromLocal8Bit(qgetenv("SETUPTOOL_CLI")), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
             process.readAllStandardOutput(), process.readAllStandardError() };
}

#endif // CLIRUN_H
