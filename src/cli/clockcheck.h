#ifndef CLOCKCHECK_H
#define CLOCKCHECK_H

#include "inventory.h"
#include "verification.h"

// Reads a device's clock over SNTP (its port 123, from the address it was heard on) and
// compares it with ours.
namespace ClockCheck {

// The device is asked a moment after the command, so that it has applied it; passed when its
// clock is within `toleranceSeconds` of ours, cannot-verify when it gives no usable answer.
Verification run(const DeviceEntry &device, double toleranceSeconds);

} // namespace ClockCheck

#endif // CLOCKCHECK_H
