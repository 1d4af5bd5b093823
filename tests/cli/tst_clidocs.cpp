#include "segment.h"
#include "simulatorprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

namespace {

// One command of the docs, as a reader would type it.
struct Example
{
    QString file; // relative to the source tree
    int line = 0;
    QString command;
    int exitCode = 0;
};

// Whether bash reads `command` as complete: a pipe or quote left open continues on the next line.
bool complete(const QString &command)
{
    if (command.endsWith(QLatin1Char('\\')))
        return false;
    QProcess bash;
    bash.start(QStringLiteral("bash"), { QStringLiteral("-n"), QStringLiteral("-c"), command });
    return bash.waitForFinished() && bash.exitCode() == 0;
}

// The examples of a Markdown file: in its code blocks, each line after a "$ " prompt, and in its
// `sh` blocks each line that starts the companion; either with the lines that complete it. A
// comment starting "exit N" gives the status it ends with, where that is not 0.
QList<Example> examples(const QString &file)
{
    QFile markdown(QStringLiteral(SETUPTOOL_SOURCE_DIR "/") + file);
    if (!markdown.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QStringList lines = QString::fromUtf8(markdown.readAll()).split(QLatin1Char('\n'));
    static const QRegularExpression fence(QStringLiteral("^```(\\w*)"));
    static const QRegularExpression companion(QStringLiteral("^(build/)?setuptool-cli "));
    static const QRegularExpression exitMark(QStringLiteral("#\\s*exit (\\d+)"));
    QList<Example> found;
    bool inBlock = false;
    QString language;
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch opening = fence.match(lines.at(i));
        if (opening.hasMatch()) {
            inBlock = !inBlock;
            language = opening.captured(1);
            continue;
        }
        if (!inBlock)
            continue;
        Example example { file, i + 1, QString(), 0 };
        if (lines.at(i).startsWith(QLatin1String("$ ")))
            example.command = lines.at(i).mid(2);
        else if (language == QLatin1String("sh") && companion.match(lines.at(i)).hasMatch())
            example.command = lines.at(i);
        else
            continue;
        while (!complete(example.command) && i + 1 < lines.size()
               && !lines.at(i + 1).startsWith(QLatin1String("```")))
            example.command += QLatin1Char('\n') + lines.at(++i);
        const QRegularExpressionMatch mark = exitMark.match(example.command);
        if (mark.hasMatch())
            example.exitCode = mark.captured(1).toInt();
        found.append(example);
    }
    return found;
}

} // namespace

// The invocations README.md and docs/cli.md show, run as written, in the order a reader meets
// them, against the demo's devices (scripts/demo-devices.json): fresh ones for each file, as
// a reader starts each page on the demo. Those that change devices change these.
class tst_CliDocs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void documented_data();
    void documented();

private:
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString devicesOf; // the file the running simulator's devices have served
    std::unique_ptr<SimulatorProcess> simulator;
};

void tst_CliDocs::initTestCase()
{
    REQUIRE_SEGMENT();
    QVERIFY(home.isValid());
    // `setuptool-cli` as installed, `build/setuptool-cli` as in a checkout: the same program.
    const QString program = qEnvironmentVariable("SETUPTOOL_CLI");
    QVERIFY(!program.isEmpty());
    QVERIFY(QDir(home.path()).mkpath("bin") && QDir(home.path()).mkpath("build"));
    QVERIFY(QFile::link(program, home.filePath("bin/setuptool-cli")));
    QVERIFY(QFile::link(program, home.filePath("build/setuptool-cli")));
    environment.insert("PATH", home.filePath("bin") + ':' + environment.value("PATH"));
    environment.insert("HOME", home.path());
    // A warning of Qt's would reach the reader: it fails the example (see clirun.h).
    environment.insert("QT_FATAL_WARNINGS", "1");
}

void tst_CliDocs::documented_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    for (const QString &file : { QStringLiteral("README.md"), QStringLiteral("docs/cli.md") }) {
        const QList<Example> found = examples(file);
        QVERIFY2(!found.isEmpty(), qPrintable(file));
        for (const Example &example : found)
            QTest::addRow("%s:%d", qPrintable(example.file), example.line)
                << example.file << example.command << example.exitCode;
    }
}

void tst_CliDocs::documented()
{
    QFETCH(QString, file);
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    if (file != devicesOf) {
        simulator = std::make_unique<SimulatorProcess>();
        QVERIFY(simulator->start(
            { "--config", QStringLiteral(SETUPTOOL_SOURCE_DIR "/scripts/demo-devices.json") }));
        devicesOf = file;
    }
    QProcess shell;
    shell.setProcessEnvironment(environment);
    shell.setWorkingDirectory(home.path());
    shell.start("bash", { "-c", command });
    QVERIFY(shell.waitForFinished(60000));
    const QByteArray said = "exit " + QByteArray::number(shell.exitCode()) + "\nstdout:\n"
        + shell.readAllStandardOutput() + "stderr:\n" + shell.readAllStandardError();
    QVERIFY2(shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == exitCode,
             said.constData());
}

QTEST_GUILESS_MAIN(tst_CliDocs)
#include "tst_clidocs.moc"
