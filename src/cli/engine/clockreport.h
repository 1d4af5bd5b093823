#ifndef CLOCKREPORT_H
#define CLOCKREPORT_H

#include "inventory.h"
#include "sntpquery.h"

#include <QList>
#include <QString>

#include <optional>

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
    SntpQuery::Result sntp; // when it was asked
    bool hasFigures() const { return sntp.answered; } // offset, delay, stratum and leap are known

    static QString stateName(State state); // "ok", "unsynchronised", "no-answer", "not-checkable"
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

    // Whether a device is asked at all; *reason says why not.
    static bool checkable(const DeviceEntry &device, QString *reason);
    // `results` holds one result for each checkable device, in order.
    static ClockReport build(const QList<DeviceEntry> &devices,
                             const QList<SntpQuery::Result> &results);
};

#endif // CLOCKREPORT_H
