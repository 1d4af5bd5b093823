#ifndef APPLYCOMMAND_H
#define APPLYCOMMAND_H

#include "commandline.h"
#include "commandlog.h"
#include "exitstatus.h"
#include "plancheck.h"
#include "sntpquery.h"

#include <QJsonObject>
#include <QList>

#include <optional>

// apply: carries out a commissioning plan. It scans, checks the whole plan against what it
// heard before anything is sent, sends what is not yet in effect at a bounded rate, verifies
// every line with one rescan (and the clocks it set over SNTP), and reports line by line.
class ApplyCommand
{
public:
    explicit ApplyCommand(const Invocation &invocation);

    ExitStatus run();

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
        QStringList sent; // commands handed to the network
        QString sendError;
        std::optional<DeviceEntry> heardAfter; // in the rescan
        std::optional<SntpQuery::Result> clockAfter;
        State state = State::Skipped;
        QString detail;
    };

    bool readPlan(QList<PlanLine> *lines, ExitStatus *status) const;
    void reportFaults(bool refused) const;
    void readClocks(const QList<int> &indexes, bool after);
    void decide();
    void send(CommandLog *log);
    void sendOne(int index, bool address, CommandLog *log);
    void rescan(const QList<LocalAddress> &from);
    void judge();
    ExitStatus finish(bool refused, bool dryRun);
    QString lineText(const Line &line) const;
    QJsonObject lineJson(const Line &line) const;

    Invocation m_invocation;
    QList<Line> m_lines;
    int m_commandsSent = 0;
    QString m_rescanError; // why the verifying rescan failed; empty when it ran
    qint64 m_sendMs = 0;
};

#endif // APPLYCOMMAND_H
