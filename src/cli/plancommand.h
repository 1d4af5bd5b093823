#ifndef PLANCOMMAND_H
#define PLANCOMMAND_H

#include "commandline.h"
#include "exitstatus.h"

// plan: one scan, and a commissioning plan on stdout giving every device heard an address of
// --range, for a person to edit and `apply` to carry out.
namespace PlanCommand {

ExitStatus run(const Invocation &invocation);

} // namespace PlanCommand

#endif // PLANCOMMAND_H
