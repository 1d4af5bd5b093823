#include "commandlog.h"

#include "textescape.h"

#include <QDateTime>
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

QJsonObject CommandLog::record(const QString &command, const DeviceEntry &device,
                               const QByteArray &sent)
{
    const QJsonObject deviceJson { { QStringLiteral("name"), QString::fromLatin1(device.name()) },
                                   { QStringLiteral("serial"), device.reply.serial },
                                   { QStringLiteral("address"), device.address() } };
    return {
        { QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) },
        { QStringLiteral("command"), command },
        { QStringLiteral("device"), deviceJson },
        { QStringLiteral("local_address"), device.heardOn.address.toString() },
        { QStringLiteral("interface"), device.heardOn.interfaceName },
        { QStringLiteral("plain_hex"), TextEscape::hex(DeviceProtocol::scrambled(sent), false) },
        { QStringLiteral("bytes_hex"), TextEscape::hex(sent, false) },
    };
}
