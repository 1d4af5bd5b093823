#ifndef SENDPROGRESS_H
#define SENDPROGRESS_H

// The progress of commands being sent, as SendAndVerify tells it, shown on a terminal: one
// line every 50 commands, rewritten in place and cleared after the last. For
// SendAndVerify::Settings::progress (set-time, set-address, apply).
namespace SendProgress {

void show(int done, int total);

} // namespace SendProgress

#endif // SENDPROGRESS_H
