#ifndef SCANREPORT_H
#define SCANREPORT_H

#include "deviceentry.h"
#include "healthnote.h"
#include "localaddress.h"

#include <QList>

// How a scan went on the wire.
struct ScanFigures
{
    int probesSent = 0;
    int datagrams = 0; // read on the device port
    int notReplies = 0; // too short to be a reply
    int elsewhere = 0; // replies heard on an interface not scanned
    int replyBufferAskedBytes = 0; // the receive buffer asked for (--reply-buffer)
    int replyBufferBytes = 0; // what the kernel granted
    qint64 dropped = -1; // datagrams the kernel dropped for want of buffer (-1: unknown)
};

// Where a scan stands while it runs: what its progress line on a terminal shows.
struct ScanProgress
{
    QList<LocalAddress> from; // the addresses it probes from
    int probesSent = 0;
    int probes = 0; // it sends in all
    int devices = 0; // heard so far
};

// Everything one scan found out: what every output of it shows.
struct ScanReport
{
    QList<DeviceEntry> devices;
    QList<LocalAddress> scannedFrom;
    ScanFigures figures;
    qint64 lastNewDeviceMs = -1; // after the first probe; -1 when nobody answered
    QList<HealthNote> notes; // about the scan itself, in its documents
    // What the person who started the scan is warned of on stderr, in the order it came up.
    // Some are notes too, such as those about the reply buffer.
    QList<HealthNote> warnings;
};

#endif // SCANREPORT_H
