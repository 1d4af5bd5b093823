#include "sendprogress.h"

#include "commandoutput.h"
#include "console.h"

namespace SendProgress {

void show(int done, int total)
{
    if (Console::stderrIsTerminal() && (done - 1) % 50 == 0)
        Console::progress(CommandOutput::sendingProgress(done, total));
    if (done == total)
        Console::progressDone();
}

} // namespace SendProgress
