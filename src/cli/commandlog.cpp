#include "commandlog.h"

#include "textescape.h"

#include <QJsonDocument>

bool CommandLog::open(const QString &path, QString *error)
{
    m_file.setFileName(path);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    *error = QStringLiteral("cannot write the log %1: %2").arg(path, m_file.errorString());
    return false;
}

bool CommandLog::append(const QJsonObject &record, QString *error)
{
    // One write per line: lines from several runs appending at once do not interleave.
    const QByteArray line
        = TextEscape::jsonWithoutControls(QJsonDocument(record).toJson(QJsonDocument::Compact))
        + '\n';
    if (m_file.write(line) == line.size() && m_file.flush())
        return true;
    *error = QStringLiteral("cannot write the log %1: %2")
                 .arg(m_file.fileName(), m_file.errorString());
    return false;
}
