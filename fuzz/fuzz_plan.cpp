// A plan is a file anyone may have edited: a spreadsheet's export, a script's output, a copy
// that lost its end. Plan::read() takes any bytes; what it reads must hold together: a plan
// refused as a whole holds no line, the lines come in file order with the line each starts on,
// a sound line asks for something with numbers that stand in the text, and what `plan` writes
// of the sound lines reads back the same.

#include "addressrules.h"
#include "plan.h"
#include "planoutput.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

constexpr size_t maxInput = 4096;

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > maxInput)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const Plan::Read plan = Plan::read(bytes);
    require(plan.error.isEmpty() || plan.lines.isEmpty());

    // A line starts after the header (line 1 at the earliest) and no later than the last line
    // break allows: CR, LF and CRLF each end a line.
    const QString text = QString::fromUtf8(bytes);
    const auto lastLine = text.count(QLatin1Char('\n')) + text.count(QLatin1Char('\r')) + 1;
    int previous = 1;
    QList<PlanRow> sound;
    for (const PlanLine &line : plan.lines) {
        require(line.lineNumber > previous && line.lineNumber <= lastLine);
        previous = line.lineNumber;
        if (!line.fault.isEmpty())
            continue;
        require(line.newAddress || line.setTime);
        require(text.contains(QString::number(qAbs(qint64(line.serial)))));
        if (!line.newAddress)
            continue;
        require(text.contains(AddressRules::format(*line.newAddress)));
        PlanRow row;
        row.serial = line.serial;
        row.newAddress = *line.newAddress;
        row.setTime = line.setTime;
        sound.append(row);
    }

    const Plan::Read again = Plan::read(PlanOutput::csv(sound));
    require(again.error.isEmpty() && again.unreadColumns.isEmpty());
    require(again.lines.size() == sound.size());
    for (qsizetype i = 0; i < sound.size(); ++i) {
        const PlanLine &line = again.lines.at(i);
        require(line.fault.isEmpty() && line.lineNumber == i + 2);
        require(line.serial == sound.at(i).serial);
        require(line.newAddress == sound.at(i).newAddress && line.setTime == sound.at(i).setTime);
    }
    return 0;
}
