#ifndef SCANCOMMAND_H
#define SCANCOMMAND_H

#include "commandline.h"
#include "exitstatus.h"

// scan: one scan, its result on stdout in the format asked for.
namespace ScanCommand {

ExitStatus run(const Invocation &invocation);

} // namespace ScanCommand

#endif // SCANCOMMAND_H
