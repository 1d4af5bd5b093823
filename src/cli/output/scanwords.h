#ifndef SCANWORDS_H
#define SCANWORDS_H

#include "scanreport.h"

#include <QString>

// What a scan says on stderr beside its result: where it stands while it runs, and that nothing
// answered.
namespace ScanWords {

// "scanning from 10.77.0.1 (ws1): probe 2/3, 5 device(s)", shown in place on a terminal.
QString progress(const ScanProgress &progress);
QString nothingAnswered();

} // namespace ScanWords

#endif // SCANWORDS_H
