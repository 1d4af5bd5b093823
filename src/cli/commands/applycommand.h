#ifndef APPLYCOMMAND_H
#define APPLYCOMMAND_H

#include "applyrules.h"
#include "commandlog.h"
#include "failure.h"
#include "options.h"

#include <QList>

// apply: carries out a commissioning plan. It scans, checks the whole plan against what it
// heard before anything is sent, sends what is not yet in effect at a bounded rate, verifies
// every line with one rescan (and the clocks it set over SNTP), logs each command with what its
// verification found, and reports line by line. ApplyRules decide and judge, ApplyOutput words.
class ApplyCommand
{
public:
    explicit ApplyCommand(const Options::Apply &options);

    Expected<ExitStatus> run();

private:
    Expected<QList<PlanLine>> readPlan() const;
    void sendAndVerify(const QList<LocalAddress> &from);
    void logCommands(CommandLog *log);
    QList<ApplyLineResult> results() const;
    ExitStatus finish();

    Options::Apply m_options;
    QList<ApplyLine> m_lines;
    ApplyReport m_report;
    QString m_rescanError; // why the verifying rescan failed; empty when it ran
};

#endif // APPLYCOMMAND_H
