#include "optionvalue.h"

#include "optionnumber.h"

namespace {

template<typename T> Expected<T> asUsage(const OptionNumber::Reading<T> &reading)
{
    if (reading)
        return *reading;
    return Failure { ExitStatus::Usage, reading.refusal };
}

} // namespace

namespace OptionValue {

Expected<qint64> integer(const QCommandLineParser &parser, const QString &name, qint64 minimum,
                         qint64 maximum)
{
    return asUsage(OptionNumber::integer(parser, name, minimum, maximum));
}

Expected<double> duration(const QCommandLineParser &parser, const QString &name,
                          OptionNumber::TimeUnit plain, double minimum, double maximum)
{
    return asUsage(OptionNumber::duration(parser, name, plain, minimum, maximum));
}

} // namespace OptionValue
