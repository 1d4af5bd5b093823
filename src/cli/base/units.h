#ifndef UNITS_H
#define UNITS_H

#include <QString>

// Figures as every output writes them.
namespace Units {

// "+0.000123 s", "-1.500 s": a clock's offset, its sign always shown.
QString signedSeconds(double seconds, int decimals = 6);

} // namespace Units

#endif // UNITS_H
