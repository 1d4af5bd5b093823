#ifndef REPLYBUFFER_H
#define REPLYBUFFER_H

#include "healthnote.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// Whether the reply port's receive buffer let a scan down, judged once the scan is over. A
// buffer smaller than asked is no news by itself: a stock Linux caps every request at 416 KiB
// and still loses nothing on most segments, since the scan reads all that waits each time it
// wakes. It is worth a word only when replies were lost, or when the buffer could not hold a
// reply from every device heard if they all came at once.
namespace ReplyBuffer {

// What the kernel charges one 64-byte reply against the buffer (the datagram's truesize). A
// wired adapter's driver hands each datagram up in a receive buffer of half a 4 KiB page,
// which with its sk_buff comes to 2,304 bytes; a veth or loopback, as on the simulated
// segment, charges 832 (measured). The larger figure is the one a real workstation meets.
constexpr int bytesPerReply = 2304;

struct Facts
{
    int full = 0; // what the system grants when it grants the whole request
    int granted = 0;
    qint64 dropped = -1; // by the kernel for want of buffer; -1 where the system does not count
    int replies = 0; // one burst: a reply from every device heard
    QString capSetting; // the system setting that caps a request; empty where none does
    // Lets a socket have what was asked, or the default where that is more (as root); empty
    // where no setting caps it.
    QString raiseCommand;
};

// How many replies `bytes` of buffer hold at once.
int repliesHeld(qint64 bytes);

// The scan's notes about its reply buffer, each also a warning: "reply-buffer-capped" (granted
// less than asked, and too little), "reply-buffer-small" (granted as asked, and too little),
// "replies-dropped" (the kernel lost some). None when all went well.
QList<HealthNote> notes(const Facts &facts);

} // namespace ReplyBuffer

#endif // REPLYBUFFER_H
