#include "console.h"

#include "platform.h"

#include <cstdio>

namespace Console {

namespace {

    bool progressShown = false;

    void toStderr(const QString &text)
    {
        progressDone();
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }

} // namespace

void result(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

void result(const QString &text)
{
    result(text.toUtf8());
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
