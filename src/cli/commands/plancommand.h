#ifndef PLANCOMMAND_H
#define PLANCOMMAND_H

#include "failure.h"
#include "options.h"

// plan: one scan, and a commissioning plan on stdout giving every device heard an address of
// --range, for a person to edit and `apply` to carry out.
namespace PlanCommand {

Expected<ExitStatus> run(const Options::Plan &options);

} // namespace PlanCommand

#endif // PLANCOMMAND_H
