#ifndef SCANCOMMAND_H
#define SCANCOMMAND_H

#include "failure.h"
#include "options.h"

// scan: one scan, its result on stdout in the format asked for.
namespace ScanCommand {

Expected<ExitStatus> run(const Options::Scan &options);

} // namespace ScanCommand

#endif // SCANCOMMAND_H
