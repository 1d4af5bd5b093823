#ifndef APPLYCOMMAND_H
#define APPLYCOMMAND_H

#include "commandlog.h"
#include "failure.h"
#include "options.h"
#include "plancheck.h"
#include "sendandverify.h"

#include <QJsonObject>
#include <QList>

#include <optional>

// apply: carries out a commissioning plan. It scans, checks the whole plan against what it
// heard before anything is sent, sends what is not yet in effect at a bounded rate, verifies
// every line with one rescan (and the clocks it set over SNTP), logs each command with what its
// verification found, and reports line by line.
class ApplyCommand
{
public:
    explicit ApplyCommand(const Options::Apply &options);

    Expected<ExitStatus> run();

private:
    // What became of one plan line.
    struct Line
    {
        // In the order of their names in the output. A line to send would-send until it is
        // judged done or failed.
        enum class State { Skipped, InEffect, WouldSend, Done, Failed };

        PlanStep step;
        bool sendAddress = false;
        bool sendTime = false;
        std::optional<SntpQuery::Result> clockBefore; // set_time on a device with NTP on
        OrderOutcome outcome; // what was sent, and what the rescan and SNTP saw after
        State state = State::Skipped;
        QString detail;
    };

    Expected<QList<PlanLine>> readPlan() const;
    void reportFaults(bool refused) const;
    void readClocksBefore();
    void decide();
    void holdBackTakenAddresses();
    void sendAndVerify(const QList<LocalAddress> &from);
    void judge();
    void logCommands(CommandLog *log);
    QString dryRunReads() const;
    ExitStatus finish(bool refused, bool dryRun);
    QString lineText(const Line &line) const;
    QJsonObject lineJson(const Line &line) const;

    Options::Apply m_options;
    QList<Line> m_lines;
    int m_commandsSent = 0;
    int m_unlogged = 0; // commands sent whose log line could not be written
    int m_addressesAsked = 0; // by the in-use probe, before sending
    QString m_rescanError; // why the verifying rescan failed; empty when it ran
    qint64 m_sendMs = 0;
};

#endif // APPLYCOMMAND_H
