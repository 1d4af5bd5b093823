#ifndef CLOCKREADING_H
#define CLOCKREADING_H

#include "deviceentry.h"

#include <QList>
#include <QString>

#include <optional>

// What a device's SNTP server answered, as far as the check shows it.
struct SntpReading
{
    bool answered = false; // a valid server answer arrived
    double offsetSeconds = 0; // server clock minus ours
    double delaySeconds = 0; // round trip
    int stratum = 0;
    int leap = 0; // 3 = unsynchronised
    QString referenceId; // text for stratum 0/1 (kiss code or source), dotted address otherwise
    int attempts = 0;
    bool kissOfDeath = false; // the server refused us (stratum 0); referenceId is its code
};

// What the check found out about one device's clock.
struct ClockReading
{
    enum class State {
        Synchronised, // answered, and its clock is one to go by
        Unsynchronised, // answered, but says its time is not to be trusted (or refused us)
        NoAnswer, // checkable, but gave no usable answer
        NotCheckable, // NTP off, or no address to ask at: never a failure
    };

    DeviceEntry device;
    State state = State::NotCheckable;
    QString reason; // why it is not synchronised, not answering or not checkable
    SntpReading sntp; // when it was asked
    bool hasFigures() const { return sntp.answered; } // offset, delay, stratum and leap are known

    // The state's one name: "ok", "unsynchronised", "no-answer", "not-checkable".
    static QString stateName(State state);
};

// The readings of every device a scan found, and the figures that sum them up.
struct ClockReport
{
    QList<ClockReading> readings; // in the scan's order
    int found = 0;
    int checked = 0; // asked: answered + unanswered
    int answered = 0; // any answer, unsynchronised ones and refusals included
    int unsynchronised = 0;
    int unanswered = 0;
    int notCheckable = 0;
    std::optional<int> worstOffset; // index into readings of the largest |offset|
    std::optional<double> medianDelaySeconds;
    std::optional<double> maxDelaySeconds;

    // The readings and their sums.
    static ClockReport of(const QList<ClockReading> &readings);
};

#endif // CLOCKREADING_H
