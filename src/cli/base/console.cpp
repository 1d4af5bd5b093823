#include "console.h"

#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Console {

namespace {

    bool progressShown = false;
    std::optional<Failure> lost;

    void toStderr(const QString &text)
    {
        progressDone();
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }

} // namespace

void result(const QByteArray &text)
{
    if (lost)
        return;
    errno = 0;
    if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size())
        && std::fflush(stdout) == 0)
        return;
    const int error = errno;
    lost = Failure { ExitStatus::OutputLost,
                     error == EPIPE ? QString()
                                    : QStringLiteral("cannot write the results to stdout: %1")
                                          .arg(QString::fromLocal8Bit(std::strerror(error))) };
    std::clearerr(stdout);
}

void result(const QString &text)
{
    result(text.toUtf8());
}

std::optional<Failure> lostResults()
{
    return lost;
}

void error(const QString &text)
{
    toStderr(QStringLiteral("setuptool-cli: ") + text + QLatin1Char('\n'));
}

void warning(const QString &text)
{
    toStderr(QStringLiteral("setuptool-cli: warning: ") + text + QLatin1Char('\n'));
}

bool stderrIsTerminal()
{
    static const bool terminal = Platform::stderrIsTerminal();
    return terminal;
}

void progress(const QString &text)
{
    if (!stderrIsTerminal())
        return;
    // \r to the line's start, the text, then erase what a longer earlier line left.
    std::fputs(("\r" + text + QStringLiteral("\033[K")).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    progressShown = true;
}

void progressDone()
{
    if (!progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressShown = false;
}

} // namespace Console
