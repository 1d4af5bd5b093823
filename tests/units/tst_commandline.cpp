#include "commandline.h"
#include "commandtable.h"
#include "exitstatus.h"
#include "options.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

namespace {

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString optional(const std::optional<int> &value)
{
    return value ? QString::number(*value) : QStringLiteral("none");
}

QString address(quint32 value)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(value >> 24)
        .arg((value >> 16) & 0xff)
        .arg((value >> 8) & 0xff)
        .arg(value & 0xff);
}

// What a command was asked to do, as "key=value" words, so that rows can name what they expect.
QStringList described(const std::any &options)
{
    const auto probing = [](const Options::Probing &p) {
        return QStringList { QStringLiteral("from=") + p.from.value_or(QStringLiteral("none")),
                             QStringLiteral("probes=%1").arg(p.probes),
                             QStringLiteral("interval=%1").arg(p.intervalMs),
                             QStringLiteral("wait=%1").arg(p.waitMs),
                             QStringLiteral("buffer=%1").arg(p.replyBufferBytes) };
    };
    const auto format = [](Options::Format f) {
        return QStringLiteral("format=")
            + (f == Options::Format::Table      ? QStringLiteral("table")
                   : f == Options::Format::Json ? QStringLiteral("json")
                                                : QStringLiteral("csv"));
    };
    if (const auto *o = std::any_cast<Options::Scan>(&options))
        return probing(o->probing) << format(o->format);
    if (const auto *o = std::any_cast<Options::Device>(&options))
        return probing(o->probing)
            << (o->kind == Options::Device::Kind::SetTime ? QStringLiteral("kind=set-time")
                                                          : QStringLiteral("kind=set-address"))
            << QStringLiteral("device=") + o->device
            << QStringLiteral("address=") + address(o->newAddress)
            << QStringLiteral("dry-run=") + yesNo(o->dryRun)
            << QStringLiteral("verify=") + yesNo(o->verify)
            << QStringLiteral("force=") + yesNo(o->force) << format(o->format)
            << QStringLiteral("tolerance=%1").arg(o->toleranceSeconds)
            << QStringLiteral("log=") + o->logPath;
    if (const auto *o = std::any_cast<Options::Check>(&options))
        return probing(o->probing)
            << format(o->format) << QStringLiteral("concurrency=") + optional(o->concurrency)
            << QStringLiteral("rate=%1").arg(o->ratePerSecond)
            << QStringLiteral("timeout=%1").arg(o->timeoutMs)
            << QStringLiteral("warn=") + (o->warn ? o->warn->text() : QStringLiteral("none"))
            << QStringLiteral("crit=") + (o->crit ? o->crit->text() : QStringLiteral("none"))
            << QStringLiteral("deadline=") + optional(o->deadlineMs)
            << QStringLiteral("expected=") + o->expected.join(QLatin1Char(','))
            << QStringLiteral("min-devices=%1").arg(o->minDevices);
    if (const auto *o = std::any_cast<Options::Plan>(&options))
        return probing(o->probing)
            << QStringLiteral("range=%1-%2").arg(address(o->rangeFirst), address(o->rangeLast))
            << QStringLiteral("set-time=") + yesNo(o->setTime);
    if (const auto *o = std::any_cast<Options::Apply>(&options))
        return probing(o->probing)
            << QStringLiteral("plan=") + o->planPath
            << QStringLiteral("dry-run=") + yesNo(o->dryRun)
            << QStringLiteral("skip-bad=") + yesNo(o->skipBad) << format(o->format)
            << QStringLiteral("rate=%1").arg(o->ratePerSecond)
            << QStringLiteral("tolerance=%1").arg(o->toleranceSeconds)
            << QStringLiteral("log=") + o->logPath;
    return { QStringLiteral("unknown options") };
}

CommandLine::Parsed parsed(const QString &words)
{
    return CommandLine::parse(QStringList { QStringLiteral("/usr/bin/setuptool-cli") }
                              + words.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

// A file of the source tree, whose path the build gives.
QByteArray sourceFile(const QString &path)
{
    QFile file(QStringLiteral(SETUPTOOL_SOURCE_DIR "/") + path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void readsOptions_data();
    void readsOptions();
    void refuses_data();
    void refuses();
    void routes_data();
    void routes();
    void helpShowsTheDefaults_data();
    void helpShowsTheDefaults();
    void docsListTheExitStatuses();
    void completionKnowsEveryOption();
};

void tst_CommandLine::readsOptions_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("expected");

    const QString probingDefaults = QStringLiteral("from=none probes=1 interval=1000 wait=1000 "
                                                   "buffer=4194304");
    QTest::newRow("scan defaults")
        << "scan"
        << "scan" << (probingDefaults + QStringLiteral(" format=table")).split(QLatin1Char(' '));
    QTest::newRow("scan probing") << "scan --from 10.77.0.1 --probes 3 --interval 10 --wait 0 "
                                     "--reply-buffer 1024 --format csv"
                                  << "scan"
                                  << QStringList { "from=10.77.0.1", "probes=3",    "interval=10",
                                                   "wait=0",         "buffer=1024", "format=csv" };
    QTest::newRow("set-time defaults")
        << "set-time 7"
        << "set-time" << QStringList { "kind=set-time", "device=7",    "dry-run=no", "verify=no",
                                       "format=table",  "tolerance=2", "log=" };
    QTest::newRow("set-time verify")
        << "set-time 7@10.77.1.7 --verify --tolerance 0.25 --log "
           "/tmp/x.log --format json"
        << "set-time"
        << QStringList { "device=7@10.77.1.7", "verify=yes", "tolerance=0.25", "log=/tmp/x.log",
                         "format=json" };
    QTest::newRow("set-address") << "set-address DEV1 10.77.1.20 --dry-run --force"
                                 << "set-address"
                                 << QStringList { "kind=set-address", "device=DEV1",
                                                  "address=10.77.1.20", "dry-run=yes",
                                                  "force=yes" };
    QTest::newRow("check defaults")
        << "check"
        << "check" << QStringList { "format=table",  "concurrency=none", "rate=500",
                                    "timeout=1000",  "warn=none",        "crit=none",
                                    "deadline=none", "expected=",        "min-devices=0" };
    QTest::newRow("check plugin, default deadline")
        << "check -w 0.5 --crit=~:2"
        << "check" << QStringList { "warn=0.5", "crit=~:2", "deadline=50000" };
    QTest::newRow("check plugin, own deadline") << "check --warn 1 --crit 2 -t 7.5"
                                                << "check" << QStringList { "deadline=7500" };
    QTest::newRow("check expectations")
        << "check --expect 1,DEV2, --expect 1 --min-devices 3 --concurrency 8 --rate 9 --timeout 10"
        << "check"
        << QStringList { "expected=1,DEV2", "min-devices=3", "concurrency=8", "rate=9",
                         "timeout=10" };
    QTest::newRow("plan") << "plan --range 10.77.1.100-10.77.1.199 --set-time"
                          << "plan"
                          << QStringList { "range=10.77.1.100-10.77.1.199", "set-time=yes" };
    QTest::newRow("apply defaults")
        << "apply plan.csv"
        << "apply" << QStringList { "plan=plan.csv", "dry-run=no",  "skip-bad=no", "format=table",
                                    "rate=200",      "tolerance=2", "log=" };
    QTest::newRow("apply stdin") << "apply - --dry-run --skip-bad --rate 10000 --tolerance 0 "
                                    "--format json"
                                 << "apply"
                                 << QStringList { "plan=-",     "dry-run=yes", "skip-bad=yes",
                                                  "rate=10000", "tolerance=0", "format=json" };
    // Every command that prints results has the same three formats, and text for table.
    QTest::newRow("scan, text") << "scan --format text"
                                << "scan" << QStringList { "format=table" };
    QTest::newRow("set-time, table") << "set-time 7 --format table"
                                     << "set-time" << QStringList { "format=table" };
    QTest::newRow("set-time, text") << "set-time 7 --format text"
                                    << "set-time" << QStringList { "format=table" };
    QTest::newRow("set-address, csv") << "set-address 7 10.77.1.20 --format csv"
                                      << "set-address" << QStringList { "format=csv" };
    QTest::newRow("check, csv") << "check --format csv"
                                << "check" << QStringList { "format=csv" };
    QTest::newRow("check, text") << "check --format text"
                                 << "check" << QStringList { "format=table" };
    QTest::newRow("apply, csv") << "apply p --format csv"
                                << "apply" << QStringList { "format=csv" };
    QTest::newRow("apply, text") << "apply p --format text"
                                 << "apply" << QStringList { "format=table" };
    // Durations with a unit; a plain number keeps the unit it always had.
    QTest::newRow("probing durations") << "scan --interval 1.5s --wait 2m"
                                       << "scan" << QStringList { "interval=1500", "wait=120000" };
    QTest::newRow("probing durations, ms") << "scan --interval 250ms --wait 0s"
                                           << "scan" << QStringList { "interval=250", "wait=0" };
    QTest::newRow("check durations") << "check --timeout 2s --deadline 90s"
                                     << "check" << QStringList { "timeout=2000", "deadline=90000" };
    // 1.001 s is 1000.9999999999999 ms in binary: still a whole number of them.
    QTest::newRow("check timeout, inexact in binary") << "check --timeout 1.001s"
                                                      << "check" << QStringList { "timeout=1001" };
    QTest::newRow("check durations, plain")
        << "check --timeout 2 --deadline 1.5"
        << "check" << QStringList { "timeout=2", "deadline=1500" };
    QTest::newRow("plugin deadline in minutes") << "check -w 1 -c 2 -t 1m"
                                                << "check" << QStringList { "deadline=60000" };
    QTest::newRow("tolerance in ms") << "set-time 7 --tolerance 500ms"
                                     << "set-time" << QStringList { "tolerance=0.5" };
    QTest::newRow("tolerance, plain seconds") << "apply p --tolerance 1.5"
                                              << "apply" << QStringList { "tolerance=1.5" };
}

void tst_CommandLine::readsOptions()
{
    QFETCH(QString, words);
    QFETCH(QString, command);
    QFETCH(QStringList, expected);

    const CommandLine::Parsed result = parsed(words);
    QVERIFY2(result.runs(), qPrintable(result.text));
    QVERIFY(result.command);
    QCOMPARE(result.command->name, command);
    const QStringList found = described(result.options);
    for (const QString &word : expected)
        QVERIFY2(found.contains(word),
                 qPrintable(word + QStringLiteral(" not in ") + found.join(QLatin1Char(' '))));
}

void tst_CommandLine::refuses_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("message"); // the whole of stderr
    QTest::addColumn<bool>("monitoringPlugin");

    const auto usage = [](const char *message, const char *command = nullptr) {
        return QStringLiteral("setuptool-cli: %1\nTry 'setuptool-cli%2 --help'.\n")
            .arg(QLatin1String(message),
                 command ? QLatin1Char(' ') + QLatin1String(command) : QString());
    };
    QTest::newRow("no command")
        << "" << usage("no command given (scan, set-time, set-address, check, plan, apply)")
        << false;
    QTest::newRow("unknown command")
        << "frob"
        << usage("unknown command \"frob\" (scan, set-time, set-address, check, plan, apply, "
                 "help)")
        << false;
    QTest::newRow("unknown global option")
        << "--frob scan" << usage("Unknown option 'frob'.") << false;
    QTest::newRow("option before the command")
        << "--format json scan"
        << usage("options follow the command: setuptool-cli scan --format json", "scan") << false;
    QTest::newRow("options before the command, the rest kept")
        << "--probes 2 --format=csv check --timeout 5 --expect a'b"
        << usage("options follow the command: setuptool-cli check --probes 2 --format=csv "
                 "--timeout 5 --expect 'a'\\''b'",
                 "check")
        << false;
    QTest::newRow("plugin options before the command")
        << "-w 1 -c 2 check"
        << usage("options follow the command: setuptool-cli check -w 1 -c 2", "check") << true;
    QTest::newRow("short options, values attached, before the command")
        << "-w1 -c=2 check"
        << usage("options follow the command: setuptool-cli check -w1 -c=2", "check") << true;
    QTest::newRow("a command's name as an option's value before the command")
        << "--expect scan check"
        << usage("options follow the command: setuptool-cli check --expect scan", "check") << false;
    // No hint where the line it would suggest fails too.
    QTest::newRow("a stray word before the command")
        << "--format json extra scan" << usage("Unknown option 'format'.") << false;
    QTest::newRow("an option without its value before the command")
        << "--probes scan" << usage("Unknown option 'probes'.") << false;
    QTest::newRow("a value given to a flag before the command")
        << "--dry-run=yes set-time 7" << usage("Unknown option 'dry-run'.") << false;
    QTest::newRow("a word after a flag before the command")
        << "--verify extra set-time 7" << usage("Unknown option 'verify'.") << false;
    QTest::newRow("unknown option")
        << "scan --verify" << usage("Unknown option 'verify'.", "scan") << false;
    QTest::newRow("missing value")
        << "scan --probes" << usage("Missing value after '--probes'.", "scan") << false;
    QTest::newRow("probes out of range")
        << "scan --probes 0"
        << usage("--probes wants a whole number from 1 to 100, not \"0\"", "scan") << false;
    QTest::newRow("format") << "scan --format xml"
                            << usage("--format wants table, json or csv, not \"xml\"", "scan")
                            << false;
    QTest::newRow("apply format") << "apply p --format xml"
                                  << usage("--format wants table, json or csv, not \"xml\"",
                                           "apply")
                                  << false;
    QTest::newRow("missing device")
        << "set-time" << usage("set-time wants DEVICE, got 0 argument(s)", "set-time") << false;
    QTest::newRow("missing address")
        << "set-address 7"
        << usage("set-address wants DEVICE and ADDRESS, got 1 argument(s)", "set-address") << false;
    QTest::newRow("extra word") << "scan 7" << usage("unexpected argument \"7\"", "scan") << false;
    QTest::newRow("bad address")
        << "set-address 7 10.77.1.020"
        << usage("\"10.77.1.020\" is not an IPv4 address: four decimal numbers 0 to 255 "
                 "separated by dots, without leading zeros, such as 10.77.1.20",
                 "set-address")
        << false;
    QTest::newRow("dry run and verify")
        << "set-time 7 --dry-run --verify"
        << usage("--dry-run sends nothing, so there is nothing to --verify", "set-time") << false;
    QTest::newRow("tolerance nan")
        << "set-time 7 --tolerance nan"
        << usage("--tolerance wants seconds from 0 to 86400 (or with a unit: 500ms, 2s, 1m), not "
                 "\"nan\"",
                 "set-time")
        << false;
    QTest::newRow("decimal comma")
        << "set-time 7 --tolerance 0,5"
        << usage("--tolerance: '0,5' is not a number; use a dot for decimals: 0.5", "set-time")
        << false;
    QTest::newRow("a fraction with a comma for a whole number")
        << "apply p --rate 1,5"
        << usage("--rate wants a whole number from 1 to 10000, not \"1,5\"", "apply") << false;
    QTest::newRow("decimal comma with a unit")
        << "check --timeout 1,5s"
        << usage("--timeout: '1,5s' is not a number; use a dot for decimals: 1.5s", "check")
        << false;
    QTest::newRow("fraction of a millisecond")
        << "scan --interval 10.5"
        << usage("--interval wants whole milliseconds from 10 to 60000 (or with a unit: 500ms, "
                 "2s, 1m), not \"10.5\"",
                 "scan")
        << false;
    QTest::newRow("duration beyond its range with a unit")
        << "check --timeout 2m"
        << usage("--timeout wants whole milliseconds from 1 to 60000 (or with a unit: 500ms, 2s, "
                 "1m), not \"2m\"",
                 "check")
        << false;
    QTest::newRow("plan without range")
        << "plan" << usage("plan needs --range, such as --range 10.77.1.100-10.77.1.199", "plan")
        << false;
    QTest::newRow("plan range reversed")
        << "plan --range 10.77.1.9-10.77.1.1"
        << usage("--range wants two IPv4 addresses, the lower first, joined by '-' (such as "
                 "10.77.1.100-10.77.1.199), not \"10.77.1.9-10.77.1.1\"",
                 "plan")
        << false;
    QTest::newRow("apply rate") << "apply p --rate 10001"
                                << usage("--rate wants a whole number from 1 to 10000, not "
                                         "\"10001\"",
                                         "apply")
                                << false;
    // The reason is the system's own, which differs between Linux and Windows.
    QFile missing(QStringLiteral("/nonexistent/list"));
    missing.open(QIODevice::ReadOnly);
    QTest::newRow("expect file missing")
        << "check --expect-file /nonexistent/list"
        << usage(
               qPrintable("--expect-file: cannot read /nonexistent/list: " + missing.errorString()),
               "check")
        << false;
    QTest::newRow("deadline shorter than the scan")
        << "check --deadline 2 --probes 3"
        << usage("--deadline (2 s) leaves no time after the scan, which takes 3 s (--probes, "
                 "--interval, --wait)",
                 "check")
        << false;
    // Monitoring plugin: the mistake is reported as UNKNOWN, however it was made.
    QTest::newRow("warn without crit")
        << "check --warn 1" << usage("--warn and --crit go together", "check") << true;
    QTest::newRow("crit without warn, short")
        << "check -c2" << usage("--warn and --crit go together", "check") << true;
    QTest::newRow("warn above crit")
        << "check --warn=3 --crit 2" << usage("--warn (3 s) must not exceed --crit (2 s)", "check")
        << true;
    QTest::newRow("plugin with json")
        << "check -w 1 -c 2 --format json"
        << usage("--warn and --crit print a monitoring status line, not --format json", "check")
        << true;
    QTest::newRow("plugin with csv")
        << "check -w 1 -c 2 --format csv"
        << usage("--warn and --crit print a monitoring status line, not --format csv", "check")
        << true;
    QTest::newRow("plugin, unknown option")
        << "check --frob -w 1 -c 2" << usage("Unknown option 'frob'.", "check") << true;
    QTest::newRow("plugin, missing value")
        << "check --crit 2 --warn" << usage("Missing value after '--warn'.", "check") << true;
    QTest::newRow("plugin, global mistake")
        << "--frob check -w 1 -c 2" << usage("Unknown option 'frob'.") << true;
    QTest::newRow("warn on another command")
        << "scan --warn 1" << usage("Unknown option 'warn'.", "scan") << false;
}

void tst_CommandLine::refuses()
{
    QFETCH(QString, words);
    QFETCH(QString, message);
    QFETCH(bool, monitoringPlugin);

    const CommandLine::Parsed result = parsed(words);
    QVERIFY(!result.runs());
    QCOMPARE(result.exitCode, exitCode(ExitStatus::Usage));
    QVERIFY(!result.toStdout);
    QCOMPARE(result.text, message);
    QCOMPARE(result.monitoringPlugin, monitoringPlugin);
    // Whatever stopped it, the command named is known: the plugin reports with it.
    if (monitoringPlugin)
        QVERIFY(result.command && result.command->pluginMistake);
}

void tst_CommandLine::routes_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("shown"); // what stdout holds

    // The usage line names the program, not the path it was started as.
    const QString overview = QStringLiteral("Usage: setuptool-cli [options] COMMAND [OPTIONS]\n");
    QTest::newRow("version") << "--version"
                             << "setuptool-cli " SETUPTOOL_VERSION "\n";
    QTest::newRow("version before a command") << "--version scan --frob"
                                              << "setuptool-cli " SETUPTOOL_VERSION "\n";
    QTest::newRow("help") << "help" << overview;
    QTest::newRow("--help") << "--help" << overview;
    QTest::newRow("-h") << "-h" << overview;
    QTest::newRow("help COMMAND") << "help apply"
                                  << "Usage: setuptool-cli apply [options] PLAN\n";
    QTest::newRow("help COMMAND, the rest ignored") << "help set-address --frob"
                                                    << " set-address [options] DEVICE ADDRESS\n";
    QTest::newRow("COMMAND --help, mistakes ignored") << "check --warn 1 --help"
                                                      << " check [options]\n";
}

void tst_CommandLine::routes()
{
    QFETCH(QString, words);
    QFETCH(QString, shown);

    const CommandLine::Parsed result = parsed(words);
    QVERIFY(!result.runs());
    QVERIFY2(result.exitCode == 0, qPrintable(result.text));
    QVERIFY(result.toStdout);
    QVERIFY2(result.text.contains(shown), qPrintable(result.text));
    if (words != QLatin1String("--version") && !words.startsWith(QLatin1String("--version ")))
        QVERIFY(result.text.endsWith(QLatin1String("3 UNKNOWN.\n")));
}

void tst_CommandLine::helpShowsTheDefaults_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("shown");

    const Options::Probing probing;
    const Options::Check check;
    QTest::newRow("probes") << "scan" << QStringLiteral("(default %1)").arg(probing.probes);
    QTest::newRow("interval")
        << "plan" << QStringLiteral("(default %1 ms; a plain number is ms").arg(probing.intervalMs);
    QTest::newRow("reply buffer") << "check"
                                  << QStringLiteral("(default %1").arg(probing.replyBufferBytes);
    QTest::newRow("check rate")
        << "check"
        << QStringLiteral("Devices asked per second at most (default %1)").arg(check.ratePerSecond);
    QTest::newRow("timeout")
        << "check" << QStringLiteral("(default %1 ms; a plain number is ms").arg(check.timeoutMs);
    QTest::newRow("deadline")
        << "check"
        << QStringLiteral("(default %1 with").arg(Options::Check::monitoringDeadlineSeconds);
    QTest::newRow("apply rate") << "apply"
                                << QStringLiteral("Commands sent per second at most (default %1)")
                                       .arg(Options::Apply().ratePerSecond);
    QTest::newRow("apply tolerance")
        << "apply"
        << QStringLiteral("right (default %1 s; a plain number is seconds")
               .arg(Options::Apply().toleranceSeconds);
    QTest::newRow("set-time tolerance")
        << "set-time"
        << QStringLiteral("ours (default %1 s").arg(Options::Device().toleranceSeconds);
}

void tst_CommandLine::helpShowsTheDefaults()
{
    QFETCH(QString, command);
    QFETCH(QString, shown);

    const QString help = parsed(command + QStringLiteral(" --help")).text.simplified();
    QVERIFY2(help.contains(shown), qPrintable(help));
}

// docs/cli.md's table of exit statuses is the code's: the same numbers, in order, named alike.
void tst_CommandLine::docsListTheExitStatuses()
{
    const QString docs = QString::fromUtf8(sourceFile(QStringLiteral("docs/cli.md")));
    const qsizetype start = docs.indexOf(QLatin1String("\n## Exit status\n"));
    QVERIFY(start >= 0);
    const QString section
        = docs.mid(start, docs.indexOf(QLatin1String("\n## "), start + 1) - start);
    QStringList documented;
    const QRegularExpression row(QStringLiteral("^\\| (\\d+) \\| ([^|]+) \\|"),
                                 QRegularExpression::MultilineOption);
    for (auto match = row.globalMatch(section); match.hasNext();) {
        const auto found = match.next();
        documented.append(found.captured(1) + QLatin1Char(' ') + found.captured(2).trimmed());
    }
    QStringList code;
    for (const ExitStatusEntry &entry : exitStatusTable)
        code.append(QString::number(exitCode(entry.status)) + QLatin1Char(' ')
                    + QLatin1String(entry.name));
    QCOMPARE(documented, code);
}

// The bash completion offers every command and every option of each.
void tst_CommandLine::completionKnowsEveryOption()
{
    const QString completion
        = QString::fromUtf8(sourceFile(QStringLiteral("packaging/bash-completion/setuptool-cli")));
    QVERIFY(!completion.isEmpty());
    QStringList missing;
    for (const CommandLine::Command &command : CommandLine::commands()) {
        // Its branch: "    name)" on a line of its own, up to ";;".
        const QRegularExpression branch(
            QStringLiteral("\\n\\s+%1\\)\\n(.*?);;").arg(QRegularExpression::escape(command.name)),
            QRegularExpression::DotMatchesEverythingOption);
        const QString offered = branch.match(completion).captured(1);
        if (offered.isEmpty())
            missing.append(command.name);
        for (const QCommandLineOption &option : command.options) {
            const QString name = QStringLiteral("--") + option.names().constLast();
            // The options every command has are offered as $common.
            if (!offered.contains(name + QLatin1Char(' '))
                && !offered.contains(name + QLatin1Char('"'))
                && !QRegularExpression(QStringLiteral("common='[^']*%1[ ']").arg(name))
                        .match(completion)
                        .hasMatch())
                missing.append(command.name + QLatin1Char(' ') + name);
        }
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
