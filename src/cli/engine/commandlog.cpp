#include "commandlog.h"

#include "jsontext.h"

#include <QFileInfo>

std::optional<Failure> CommandLog::open(const QString &path, bool dryRun)
{
    if (path.isEmpty() || dryRun)
        return std::nullopt;
    m_file.setFileName(path);
    // A device or a pipe (/dev/full, a FIFO) has no end to append at, and Qt warns on the
    // user's terminal when asked to seek one; it is only written to.
    const QFileInfo file(path);
    const QIODevice::OpenMode mode = file.exists() && !file.isFile()
        ? QIODevice::WriteOnly
        : QIODevice::WriteOnly | QIODevice::Append;
    if (m_file.open(mode))
        return std::nullopt;
    return Failure {
        ExitStatus::Usage,
        QStringLiteral("cannot write the log %1: %2").arg(path, m_file.errorString())
    };
}

std::optional<Failure> CommandLog::append(const QJsonObject &record, const QString &device)
{
    // One write per line: lines from several runs appending at once do not interleave.
    const QByteArray line = JsonText::line(record) + '\n';
    if (m_file.write(line) == line.size() && m_file.flush())
        return std::nullopt;
    return Failure { ExitStatus::SentNotLogged,
                     QStringLiteral("sent, not logged: %1 to %2: cannot write the log %3: %4")
                         .arg(record.value(QStringLiteral("command")).toString(), device,
                              m_file.fileName(), m_file.errorString()) };
}
