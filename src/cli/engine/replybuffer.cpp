#include "replybuffer.h"

namespace ReplyBuffer {

namespace {

    QString kib(qint64 bytes)
    {
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    }

    // The kernel takes a datagram while the buffer is not yet over its size, so the last one
    // may overshoot it; counting whole replies errs on the side of saying so.
    QString room(const Facts &facts)
    {
        return QStringLiteral("room for about %1 replies at once, and %2 devices answered")
            .arg(repliesHeld(facts.granted))
            .arg(facts.replies);
    }

} // namespace

int repliesHeld(qint64 bytes)
{
    return int(bytes / bytesPerReply);
}

QList<HealthNote> notes(const Facts &facts)
{
    QList<HealthNote> notes;
    const bool lost = facts.dropped > 0;
    const bool tooSmall = qint64(facts.replies) * bytesPerReply > facts.granted;
    if (facts.granted < facts.full && (lost || tooSmall)) {
        QString text = QStringLiteral("the kernel granted %1 of receive buffer for replies, not "
                                      "the %2 asked for")
                           .arg(kib(facts.granted), kib(facts.full));
        if (!facts.capSetting.isEmpty())
            text += QStringLiteral(" (%1 caps it)").arg(facts.capSetting);
        text += QStringLiteral(": %1.").arg(room(facts));
        if (!facts.raiseCommand.isEmpty())
            text += QStringLiteral(" To raise the cap, as root: %1").arg(facts.raiseCommand);
        notes.append({ QStringLiteral("reply-buffer-capped"), text });
    } else if (tooSmall) {
        notes.append({ QStringLiteral("reply-buffer-small"),
                       QStringLiteral("the receive buffer for replies (%1, as asked) has %2: "
                                      "ask for more with --reply-buffer")
                           .arg(kib(facts.granted), room(facts)) });
    }
    if (lost) {
        QString text = QStringLiteral("the kernel dropped %1 datagram(s) on the reply port "
                                      "because its receive buffer (%2) was full: devices may be "
                                      "missing. Scan again with more --probes")
                           .arg(facts.dropped)
                           .arg(kib(facts.granted));
        if (!facts.raiseCommand.isEmpty())
            text += QStringLiteral(", or raise the cap as root: %1").arg(facts.raiseCommand);
        notes.append({ QStringLiteral("replies-dropped"), text });
    }
    return notes;
}

} // namespace ReplyBuffer
