#ifndef ADDRESSWORDS_H
#define ADDRESSWORDS_H

#include "addressholding.h"

#include <QString>

// The words for an address found taken, as set-address, plan and apply say them.
namespace AddressWords {

// "10.77.1.5 is in use: a host at 02:fc:00:00:00:05 answers for it on the link of 10.77.0.1
// (ws1)".
QString inUse(const AddressHolding &holding);
// Why set-address may not store the address; empty for Kind::None.
QString objection(const AddressObjection &objection);

} // namespace AddressWords

#endif // ADDRESSWORDS_H
