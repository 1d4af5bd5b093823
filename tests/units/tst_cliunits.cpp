#include "addressrules.h"
#include "clocksurvey.h"
#include "devicepresence.h"
#include "deviceselector.h"
#include "inventory.h"
#include "jsontext.h"
#include "optionnumber.h"
#include "optionvalue.h"
#include "pacer.h"
#include "plan.h"
#include "pluginrange.h"
#include "textescape.h"
#include "tokenbucket.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

LocalAddress workstation()
{
    LocalAddress local;
    local.address = QHostAddress(QStringLiteral("10.77.0.1"));
    local.prefixLength = 16;
    local.interfaceName = QStringLiteral("ws1");
    local.interfaceIndex = 2;
    return local;
}

quint32 ip(const char *text)
{
    return QHostAddress(QLatin1String(text)).toIPv4Address();
}

// A reply as a device sends it: "serial@current[>stored] name".
Sighting sighting(qint32 serial, const char *current, const QByteArray &name = "DEV",
                  const char *stored = nullptr)
{
    Sighting heard;
    heard.reply.serial = serial;
    heard.reply.currentAddress = ip(current);
    heard.reply.storedAddress = ip(stored ? stored : current);
    heard.reply.name = name.leftJustified(13, '\0');
    heard.heardOn = workstation();
    return heard;
}

QList<DeviceEntry> fleet()
{
    Inventory inventory;
    inventory.add(sighting(100, "10.77.1.1", "CLOCK-A"));
    inventory.add(sighting(6, "10.77.1.2", "TWIN"));
    inventory.add(sighting(5, "10.77.1.3", "TWIN"));
    inventory.add(sighting(7, "10.77.1.4", "CONFLICT"));
    inventory.add(sighting(8, "10.77.1.4", "OTHER"));
    inventory.add(sighting(11, "10.77.1.6", "DUP"));
    inventory.add(sighting(11, "10.77.1.7", "DUP2"));
    inventory.add(sighting(12, "10.77.1.8", QByteArray("ESC\x1b[2J", 7)));
    inventory.add(sighting(13, "10.77.1.9", "1234"));
    inventory.add(sighting(1234, "10.77.1.10", "NUMBERED"));
    return inventory.devices();
}

QStringList serialsOf(const QList<DeviceEntry> &devices)
{
    QStringList serials;
    for (const DeviceEntry &device : devices)
        serials.append(QString::number(device.reply.serial));
    return serials;
}

// The most events in any window of `windowNs` among sorted event times.
int busiestWindow(const QList<qint64> &times, qint64 windowNs)
{
    int most = 0;
    for (int first = 0, last = 0; last < times.size(); ++last) {
        while (times.at(last) - times.at(first) >= windowNs)
            ++first;
        most = qMax(most, last - first + 1);
    }
    return most;
}

constexpr qint64 msNs = 1000000;

} // namespace

// The command-line companion's rules that need no network: how wire text is shown, which
// addresses are taken, which device a word names, what a scan notes, and how sends are paced.
class tst_CliUnits : public QObject
{
    Q_OBJECT

private slots:
    void terminalText_data();
    void terminalText();
    void csvCell_data();
    void csvCell();
    void jsonHoldsNoControls();
    void jsonNumbers_data();
    void jsonNumbers();
    void jsonLayout();
    void addressSyntax_data();
    void addressSyntax();
    void addressRefusal_data();
    void addressRefusal();
    void optionNumber_data();
    void optionNumber();
    void decimalComma_data();
    void decimalComma();
    void duration_data();
    void duration();
    void deviceSelection_data();
    void deviceSelection();
    void devicePresence_data();
    void devicePresence();
    void pluginRange_data();
    void pluginRange();
    void pluginRangeRefused_data();
    void pluginRangeRefused();
    void healthNotes_data();
    void healthNotes();
    void planReading_data();
    void planReading();
    void tokenBucket_data();
    void tokenBucket();
    void pacerAfterStall();
    void pacerOrder_data();
    void pacerOrder();
    void surveyPool_data();
    void surveyPool();
};

void tst_CliUnits::terminalText_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("padding dropped") << QByteArray("CLOCK\0\0\0\0\0\0\0\0", 13) << "CLOCK";
    QTest::newRow("NUL inside kept") << QByteArray("A\0B\0\0", 5) << "A\\x00B";
    QTest::newRow("escape sequence")
        << QByteArray("\x1b[2J\x1b]0;x\x07") << "\\x1b[2J\\x1b]0;x\\x07";
    QTest::newRow("line breaks") << QByteArray("A\r\nB\tC") << "A\\x0d\\x0aB\\x09C";
    QTest::newRow("DEL and C1 CSI") << QByteArray("\x7f\x9b"
                                                  "31m")
                                    << "\\x7f\\x9b31m";
    QTest::newRow("backslash doubled") << QByteArray("a\\x1b") << "a\\\\x1b";
    QTest::newRow("Latin-1 letters") << QByteArray("Gr\xfc\xdf"
                                                   "e")
                                     << QString::fromUtf8("Grüße");
    QTest::newRow("quotes and commas") << QByteArray("\"a\",b") << "\"a\",b";
}

void tst_CliUnits::terminalText()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, shown);
    QCOMPARE(TextEscape::forTerminal(TextEscape::trimmedName(raw)), shown);
}

void tst_CliUnits::csvCell_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("number");
    QTest::addColumn<QString>("cell");
    QTest::newRow("plain") << "CLOCK-A" << false << "CLOCK-A";
    QTest::newRow("comma") << "a,b" << false << "\"a,b\"";
    QTest::newRow("quote") << "say \"hi\"" << false << "\"say \"\"hi\"\"\"";
    QTest::newRow("line feed") << "a\nb" << false << "\"a\nb\"";
    QTest::newRow("edge blank") << " a" << false << "\" a\"";
    QTest::newRow("formula =") << "=1+2" << false << "\"'=1+2\"";
    QTest::newRow("formula +") << "+A1" << false << "\"'+A1\"";
    QTest::newRow("formula -") << "-A1" << false << "\"'-A1\"";
    QTest::newRow("formula @") << "@SUM(A1)" << false << "\"'@SUM(A1)\"";
    QTest::newRow("formula with quote") << "=\"x\"" << false << "\"'=\"\"x\"\"\"";
    QTest::newRow("negative number") << "-5" << true << "\"-5\"";
    QTest::newRow("number") << "65536" << true << "65536";
}

void tst_CliUnits::csvCell()
{
    QFETCH(QString, text);
    QFETCH(bool, number);
    QFETCH(QString, cell);
    QCOMPARE(TextEscape::csvCell(
                 text, number ? TextEscape::CellKind::Number : TextEscape::CellKind::Text),
             cell);
}

void tst_CliUnits::jsonHoldsNoControls()
{
    const QString name = QString::fromLatin1(QByteArray("\x1b\x7f\x9b\x85\xe9", 5));
    const QByteArray json = JsonText::document(QJsonObject { { QStringLiteral("name"), name } });
    for (const char byte : json)
        QVERIFY2(uchar(byte) >= 0x20 || byte == '\n', json.toHex().constData());
    QVERIFY(!json.contains("\xc2\x9b") && !json.contains("\xc2\x85") && !json.contains('\x7f'));
    QCOMPARE(QJsonDocument::fromJson(json).object().value(QStringLiteral("name")).toString(), name);
}

void tst_CliUnits::jsonNumbers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    // What QJsonDocument writes for them: 8.151098154485226e-05, 1e+20, -0.
    QTest::newRow("small offset") << 8.151098154485226e-05 << "0.000082";
    QTest::newRow("below a microsecond") << 4e-7 << "0";
    QTest::newRow("negative below a microsecond") << -4e-7 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("trailing zeros dropped") << 1.5 << "1.5";
    QTest::newRow("negative") << -1.500049 << "-1.500049";
    QTest::newRow("whole") << 3600.0 << "3600";
    QTest::newRow("large whole") << 1e20 << "100000000000000000000";
    QTest::newRow("serial") << -2147483648.0 << "-2147483648";
    QTest::newRow("not a number") << qQNaN() << "null";
    QTest::newRow("infinite") << qInf() << "null";
}

void tst_CliUnits::jsonNumbers()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(JsonText::number(value), text);
}

// Indented as QJsonDocument indents, with empty arrays and objects on one line; the one-line
// form has no blanks.
void tst_CliUnits::jsonLayout()
{
    const QJsonObject object { { "b", QJsonArray {} },
                               { "a", QJsonObject { { "x", 1 }, { "y", QJsonValue() } } },
                               { "c", QJsonArray { "\u00e9\"", 0.25 } },
                               { "d", QJsonObject {} } };
    QCOMPARE(JsonText::document(object),
             "{\n    \"a\": {\n        \"x\": 1,\n        \"y\": null\n    },\n"
             "    \"b\": [],\n    \"c\": [\n        \"\xc3\xa9\\\"\",\n        0.25\n"
             "    ],\n    \"d\": {}\n}\n");
    QCOMPARE(JsonText::line(object),
             "{\"a\":{\"x\":1,\"y\":null},\"b\":[],\"c\":[\"\xc3\xa9\\\"\",0.25],\"d\":{}}");
    QCOMPARE(QJsonDocument::fromJson(JsonText::document(object)).object(), object);
}

void tst_CliUnits::addressSyntax_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "10.77.1.20" << true;
    QTest::newRow("zeros") << "0.0.0.0" << true;
    QTest::newRow("all 255") << "255.255.255.255" << true;
    QTest::newRow("three parts") << "10.77.1" << false;
    QTest::newRow("five parts") << "10.77.1.2.3" << false;
    QTest::newRow("empty part") << "10..1.2" << false;
    QTest::newRow("trailing dot") << "10.77.1." << false;
    QTest::newRow("octet 256") << "10.77.1.256" << false;
    QTest::newRow("leading zero") << "10.077.1.2" << false;
    QTest::newRow("hex") << "0x0a.77.1.2" << false;
    QTest::newRow("sign") << "+10.77.1.2" << false;
    QTest::newRow("blank") << " 10.77.1.2" << false;
    QTest::newRow("trailing text") << "10.77.1.2x" << false;
    QTest::newRow("shorthand") << "167772161" << false;
    QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("١٠.77.1.2") << false;
    QTest::newRow("empty") << "" << false;
}

void tst_CliUnits::addressSyntax()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto address = AddressRules::parse(text);
    QCOMPARE(address.has_value(), valid);
    if (valid)
        QCOMPARE(AddressRules::format(*address), text);
}

void tst_CliUnits::addressRefusal_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("prefix"); // of the workstation's 10.77.0.1
    QTest::addColumn<QString>("refusedAs");
    QTest::newRow("ordinary") << "10.77.1.20" << 16 << "";
    QTest::newRow("all zeros") << "0.0.0.0" << 16 << "0.0.0.0";
    QTest::newRow("limited broadcast") << "255.255.255.255" << 16 << "broadcast";
    QTest::newRow("multicast") << "224.0.0.251" << 16 << "multicast";
    QTest::newRow("multicast top") << "239.255.255.255" << 16 << "multicast";
    QTest::newRow("loopback") << "127.0.0.1" << 16 << "loopback";
    QTest::newRow("reserved") << "240.0.0.1" << 16 << "reserved";
    QTest::newRow("network") << "10.77.0.0" << 16 << "network address";
    QTest::newRow("subnet broadcast")
        << "10.77.255.255" << 16 << "broadcast address of 10.77.0.0/16";
    QTest::newRow("other subnet") << "10.78.1.1" << 16 << "outside 10.77.0.0/16";
    QTest::newRow("/24 network") << "10.77.0.0" << 24 << "network address of 10.77.0.0/24";
    QTest::newRow("/24 broadcast") << "10.77.0.255" << 24 << "broadcast address of 10.77.0.0/24";
    QTest::newRow("/24 host") << "10.77.0.254" << 24 << "";
    QTest::newRow("/24 beyond") << "10.77.1.1" << 24 << "outside 10.77.0.0/24";
    QTest::newRow("/30 network") << "10.77.0.0" << 30 << "network address of 10.77.0.0/30";
    QTest::newRow("/30 broadcast") << "10.77.0.3" << 30 << "broadcast address of 10.77.0.0/30";
    QTest::newRow("/30 host") << "10.77.0.2" << 30 << "";
    // A point-to-point /31 and a /32 have no network or broadcast address (RFC 3021).
    QTest::newRow("/31 lower") << "10.77.0.0" << 31 << "";
    QTest::newRow("/31 upper") << "10.77.0.1" << 31 << "";
    QTest::newRow("/32 itself") << "10.77.0.1" << 32 << "";
}

void tst_CliUnits::addressRefusal()
{
    QFETCH(QString, address);
    QFETCH(int, prefix);
    QFETCH(QString, refusedAs);
    LocalAddress local = workstation();
    local.prefixLength = prefix;
    const QString refusal = AddressRules::refusal(*AddressRules::parse(address), local.subnet());
    QCOMPARE(refusal.isEmpty(), refusedAs.isEmpty());
    QVERIFY2(refusal.contains(refusedAs), qPrintable(refusal));
}

void tst_CliUnits::optionNumber_data()
{
    // The rule the companion and the test tools share, read as --n with the range 1..100.
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("whole"); // a whole number in range
    QTest::addColumn<bool>("seconds"); // seconds in range
    QTest::newRow("plain") << "42" << true << true;
    QTest::newRow("lowest") << "1" << true << true;
    QTest::newRow("highest") << "100" << true << true;
    QTest::newRow("below") << "0" << false << false;
    QTest::newRow("above") << "101" << false << false;
    QTest::newRow("fraction") << "1.5" << false << true;
    QTest::newRow("leading blank") << " 42" << false << true;
    QTest::newRow("trailing blank") << "42 " << false << true;
    QTest::newRow("word") << "soon" << false << false;
    QTest::newRow("nan") << "nan" << false << false;
    QTest::newRow("empty") << "" << false << false;
}

void tst_CliUnits::optionNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, whole);
    QFETCH(bool, seconds);
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("n"), QString(), QStringLiteral("N") });
    QVERIFY(parser.parse({ QStringLiteral("test"), QStringLiteral("--n=") + text }));
    const auto integer = OptionNumber::integer(parser, QStringLiteral("n"), 1, 100);
    QCOMPARE(bool(integer), whole);
    QCOMPARE(bool(OptionNumber::seconds(parser, QStringLiteral("n"), 1, 100)), seconds);
    // The companion takes a refusal as bad usage, with the shared rule's words.
    const Expected<qint64> usage = OptionValue::integer(parser, QStringLiteral("n"), 1, 100);
    QCOMPARE(bool(usage), whole);
    if (!whole) {
        QCOMPARE(usage.failure().status, ExitStatus::Usage);
        QCOMPARE(usage.failure().message, integer.refusal);
        QVERIFY2(integer.refusal.contains(QStringLiteral("\"%1\"").arg(text)),
                 qPrintable(integer.refusal));
    }
}

void tst_CliUnits::duration_data()
{
    // A duration as --d takes it, from 1 to 100 of its plain unit; -1: refused.
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("plainSeconds"); // the plain number's unit: seconds, or ms
    QTest::addColumn<double>("ms");
    QTest::addColumn<QString>("refusal"); // a refusal holds it
    const QString range = QStringLiteral("(or with a unit: 500ms, 2s, 1m)");
    QTest::newRow("plain ms") << "42" << false << 42.0 << QString();
    QTest::newRow("plain seconds") << "1.5" << true << 1500.0 << QString();
    QTest::newRow("ms unit") << "100ms" << false << 100.0 << QString();
    QTest::newRow("s unit on ms") << "0.05s" << false << 50.0 << QString();
    QTest::newRow("ms unit on seconds") << "1500ms" << true << 1500.0 << QString();
    QTest::newRow("minutes") << "1m" << true << 60000.0 << QString();
    QTest::newRow("lowest, with a unit") << "1s" << true << 1000.0 << QString();
    QTest::newRow("highest, with a unit") << "0.1s" << false << 100.0 << QString();
    QTest::newRow("above, with a unit") << "2m" << true << -1.0 << range;
    QTest::newRow("below, with a unit") << "999ms" << true << -1.0 << range;
    QTest::newRow("part of a ms") << "1.5" << false << -1.0 << "whole milliseconds from 1 to 100";
    QTest::newRow("seconds' words") << "nan" << true << -1.0 << "seconds from 1 to 100";
    QTest::newRow("unit alone") << "s" << true << -1.0 << range;
    QTest::newRow("unknown unit") << "2h" << true << -1.0 << range;
    QTest::newRow("unit apart") << "2 s" << true << -1.0 << range;
    QTest::newRow("blank") << " 2" << true << -1.0 << range;
    QTest::newRow("decimal comma")
        << "1,5" << true << -1.0 << "--d: '1,5' is not a number; use a dot for decimals: 1.5";
    QTest::newRow("decimal comma, unit")
        << "0,5s" << false << -1.0 << "--d: '0,5s' is not a number; use a dot for decimals: 0.5s";
    QTest::newRow("two commas") << "1,5,0" << true << -1.0 << range;
}

void tst_CliUnits::duration()
{
    QFETCH(QString, text);
    QFETCH(bool, plainSeconds);
    QFETCH(double, ms);
    QFETCH(QString, refusal);
    const auto unit
        = plainSeconds ? OptionNumber::TimeUnit::Seconds : OptionNumber::TimeUnit::Milliseconds;
    const auto reading = OptionNumber::duration(QStringLiteral("d"), text, unit, 1, 100);
    QCOMPARE(reading ? *reading : -1.0, ms);
    QVERIFY2(reading.refusal.contains(refusal), qPrintable(reading.refusal));
    QCOMPARE(reading.refusal.isEmpty(), bool(reading));
}

void tst_CliUnits::deviceSelection_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("serials");
    QTest::addColumn<QString>("suggested"); // a name that matches when case is ignored
    QTest::newRow("serial") << "100" << QStringList { "100" } << QString();
    QTest::newRow("address") << "10.77.1.1" << QStringList { "100" } << QString();
    QTest::newRow("name") << "CLOCK-A" << QStringList { "100" } << QString();
    QTest::newRow("name shown escaped") << "ESC\\x1b[2J" << QStringList { "12" } << QString();
    QTest::newRow("twins by name") << "TWIN" << QStringList { "6", "5" } << QString();
    QTest::newRow("twin by serial") << "5" << QStringList { "5" } << QString();
    QTest::newRow("conflict by address") << "10.77.1.4" << QStringList { "7", "8" } << QString();
    QTest::newRow("conflict by serial") << "8" << QStringList { "8" } << QString();
    QTest::newRow("duplicate serial") << "11" << QStringList { "11", "11" } << QString();
    QTest::newRow("duplicate serial by address")
        << "10.77.1.7" << QStringList { "11" } << QString();
    QTest::newRow("serial at address") << "11@10.77.1.7" << QStringList { "11" } << QString();
    QTest::newRow("name that reads as a serial")
        << "1234" << QStringList { "13", "1234" } << QString();
    QTest::newRow("no such serial") << "4242" << QStringList {} << QString();
    QTest::newRow("no such address") << "10.77.9.9" << QStringList {} << QString();
    QTest::newRow("name is case-sensitive")
        << "clock-a" << QStringList {} << "did you mean CLOCK-A?";
    QTest::newRow("serial with blank") << " 100" << QStringList {} << QString();
    QTest::newRow("empty") << "" << QStringList {} << QString();
}

void tst_CliUnits::deviceSelection()
{
    QFETCH(QString, device);
    QFETCH(QStringList, serials);
    QFETCH(QString, suggested);
    const QList<DeviceEntry> devices = fleet();
    const QList<DeviceEntry> found = DeviceSelector(devices).candidates(device);
    QStringList foundSerials = serialsOf(found);
    foundSerials.sort();
    serials.sort();
    QCOMPARE(foundSerials, serials);
    const QString problem = DeviceSelector::problem(device, found, devices);
    QCOMPARE(problem.isEmpty(), found.size() == 1);
    // Whatever is wrong, the message names what the user can pick from.
    for (const DeviceEntry &entry : found.size() > 1 ? found : QList<DeviceEntry>())
        QVERIFY2(problem.contains(entry.describe()), qPrintable(problem));
    QCOMPARE(problem.contains(QStringLiteral("did you mean")), !suggested.isEmpty());
    QVERIFY2(problem.contains(suggested), qPrintable(problem));
}

void tst_CliUnits::devicePresence_data()
{
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("minDevices");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QStringList>("unexpected"); // serials
    QTest::addColumn<int>("missingCount");
    const QStringList others { "6", "5", "7", "8", "11", "11", "12", "13", "1234" };
    QTest::newRow("nothing expected")
        << QStringList {} << 0 << QStringList {} << QStringList {} << 0;
    QTest::newRow("serial, leading zeros")
        << QStringList { "0100" } << 0 << QStringList {} << others << 0;
    QTest::newRow("name, address, serial@address, escaped name")
        << QStringList { "TWIN", "10.77.1.4", "11@10.77.1.6", "ESC\\x1b[2J" } << 0 << QStringList {}
        << QStringList { "100", "11", "13", "1234" } << 0;
    QTest::newRow("missing ones as typed") << QStringList { "100", "CLOCK-Z", "4242" } << 0
                                           << QStringList { "CLOCK-Z", "4242" } << others << 2;
    QTest::newRow("minimum met") << QStringList {} << 10 << QStringList {} << QStringList {} << 0;
    QTest::newRow("minimum short") << QStringList {} << 13 << QStringList {} << QStringList {} << 3;
    QTest::newRow("the larger shortfall counts") << QStringList { "X" } << 12 << QStringList { "X" }
                                                 << (others + QStringList { "100" }) << 2;
}

void tst_CliUnits::devicePresence()
{
    QFETCH(QStringList, expected);
    QFETCH(int, minDevices);
    QFETCH(QStringList, missing);
    QFETCH(QStringList, unexpected);
    QFETCH(int, missingCount);
    const QList<DeviceEntry> devices = fleet();
    const DevicePresence presence = Presence::of(devices, expected, minDevices);
    QCOMPARE(presence.missing, missing);
    QStringList serials;
    for (int index : presence.unexpected)
        serials.append(QString::number(devices.at(index).reply.serial));
    serials.sort();
    unexpected.sort();
    QCOMPARE(serials, unexpected);
    QCOMPARE(presence.missingCount(), missingCount);
    QCOMPARE(presence.expecting, !expected.isEmpty() || minDevices > 0);
}

void tst_CliUnits::decimalComma_data()
{
    // Every reader of a fraction typed as --n refuses a decimal comma with the dotted text; a
    // whole number's comma is a thousands separator.
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("dotted"); // empty: refused without the hint
    QTest::newRow("whole number, a fraction") << "integer"
                                              << "1,5"
                                              << "";
    QTest::newRow("whole number, thousands") << "integer"
                                             << "1,000"
                                             << "";
    QTest::newRow("seconds") << "seconds"
                             << "0,5"
                             << "0.5";
    QTest::newRow("duration with a unit") << "duration"
                                          << "1,5s"
                                          << "1.5s";
    QTest::newRow("plugin range") << "range"
                                  << "0,5"
                                  << "0.5";
    QTest::newRow("plugin range, both ends") << "range"
                                             << "@0,5:1,5"
                                             << "@0.5:1.5";
    QTest::newRow("thousands separators") << "integer"
                                          << "1,000,000"
                                          << "";
    QTest::newRow("words") << "seconds"
                           << "a,b"
                           << "";
    QTest::newRow("blank") << "integer"
                           << "1,5 "
                           << "";
}

void tst_CliUnits::decimalComma()
{
    QFETCH(QString, reader);
    QFETCH(QString, text);
    QFETCH(QString, dotted);
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("n"), QString(), QStringLiteral("N") });
    QVERIFY(parser.parse({ QStringLiteral("test"), QStringLiteral("--n=") + text }));
    const QString name = QStringLiteral("n");
    const QString refusal = reader == "integer"
        ? OptionNumber::integer(parser, name, 1, 100).refusal
        : reader == "seconds" ? OptionNumber::seconds(parser, name, 0, 100).refusal
        : reader == "duration"
        ? OptionNumber::duration(parser, name, OptionNumber::TimeUnit::Seconds, 0, 100).refusal
        : PluginRange::parse(text, name).failure().message;
    if (text == "1,000")
        QCOMPARE(refusal,
                 "--n: '1,000' is not a whole number; leave out the thousands separators: 1000");
    else if (dotted.isEmpty())
        QVERIFY2(!refusal.isEmpty() && !refusal.contains("use a dot"), qPrintable(refusal));
    else
        QCOMPARE(refusal, "--n: '" + text + "' is not a number; use a dot for decimals: " + dotted);
}

void tst_CliUnits::pluginRange_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("shown"); // in performance data
    QTest::addColumn<QString>("alertsAt"); // of the values 0 0.5 0.6 1 1.5 2 3: 'x' alerts
    QTest::newRow("plain: above, the edge fine") << "0.5"
                                                 << "0.5"
                                                 << "..xxxxx";
    QTest::newRow("plain zero") << "0"
                                << "0"
                                << ".xxxxxx";
    QTest::newRow("from, no end") << "1:"
                                  << "1:"
                                  << "xxx....";
    QTest::newRow("minus infinity") << "~:1.5"
                                    << "~:1.5"
                                    << ".....xx";
    QTest::newRow("between") << "0.6:2"
                             << "0.6:2"
                             << "xx....x";
    QTest::newRow("inside, edges alert") << "@0.6:2"
                                         << "@0.6:2"
                                         << "..xxxx.";
    QTest::newRow("zero start dropped") << "0:2"
                                        << "2"
                                        << "......x";
    QTest::newRow("exponent written out") << "1e-5"
                                          << "0.00001"
                                          << ".xxxxxx";
    QTest::newRow("to the microsecond") << "1.2345678"
                                        << "1.234568"
                                        << "....xxx";
}

void tst_CliUnits::pluginRange()
{
    QFETCH(QString, range);
    QFETCH(QString, shown);
    QFETCH(QString, alertsAt);
    const Expected<PluginRange> parsed = PluginRange::parse(range, "warn");
    QVERIFY2(parsed, qPrintable(parsed ? QString() : parsed.failure().message));
    QCOMPARE(parsed->text(), shown);
    QString seen;
    for (double value : { 0.0, 0.5, 0.6, 1.0, 1.5, 2.0, 3.0 })
        seen += parsed->alerts(value) ? 'x' : '.';
    QCOMPARE(seen, alertsAt);
    // What is printed reads back as the same range.
    QCOMPARE(PluginRange::parse(shown, "warn")->text(), shown);
}

void tst_CliUnits::pluginRangeRefused_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("says");
    for (const char *bad : { "", "abc", "1:2:3", "@", "~", "nan", "inf", " 1", "1s", "2:~" })
        QTest::newRow(bad) << bad << "a range in seconds";
    QTest::newRow("start above end") << "3:2"
                                     << "starts above its end";
    QTest::newRow("negative plain") << "-1"
                                    << "starts above its end";
}

void tst_CliUnits::pluginRangeRefused()
{
    QFETCH(QString, range);
    QFETCH(QString, says);
    const Expected<PluginRange> parsed = PluginRange::parse(range, "crit");
    QVERIFY(!parsed);
    QVERIFY2(parsed.failure().message.contains(says), qPrintable(parsed.failure().message));
    QVERIFY(parsed.failure().message.startsWith("--crit"));
    QCOMPARE(parsed.failure().status, ExitStatus::Usage);
}

void tst_CliUnits::healthNotes_data()
{
    QTest::addColumn<QList<Sighting>>("heard");
    QTest::addColumn<QStringList>("codes"); // per device, in output order, joined by ' '
    QTest::newRow("healthy") << QList<Sighting> { sighting(1, "10.77.1.1") } << QStringList { "" };
    QTest::newRow("pending restart")
        << QList<Sighting> { sighting(1, "10.77.1.1", "A", "10.77.1.9") }
        << QStringList { "pending-restart" };
    QTest::newRow("conflict") << QList<Sighting> { sighting(1, "10.77.1.1"),
                                                   sighting(2, "10.77.1.1") }
                              << QStringList { "address-conflict", "address-conflict" };
    QTest::newRow("same serial twice")
        << QList<Sighting> { sighting(1, "10.77.1.1"), sighting(1, "10.77.1.2") }
        << QStringList { "duplicate-serial", "duplicate-serial" };
    QTest::newRow("repeated reply is one device")
        << QList<Sighting> { sighting(1, "10.77.1.1"), sighting(1, "10.77.1.1") }
        << QStringList { "" };
    QTest::newRow("outside the subnet")
        << QList<Sighting> { sighting(1, "192.168.5.5") } << QStringList { "outside-subnet" };
    QTest::newRow("no address") << QList<Sighting> { sighting(1, "0.0.0.0") }
                                << QStringList { "no-address no-stored-address" };
    QTest::newRow("nothing stored") << QList<Sighting> { sighting(1, "10.77.1.1", "A", "0.0.0.0") }
                                    << QStringList { "no-stored-address" };
}

void tst_CliUnits::healthNotes()
{
    QFETCH(QList<Sighting>, heard);
    QFETCH(QStringList, codes);
    Inventory inventory;
    for (const Sighting &sighting : heard)
        inventory.add(sighting);
    QStringList found;
    for (const DeviceEntry &device : inventory.devices()) {
        QStringList deviceCodes;
        for (const HealthNote &note : device.notes)
            deviceCodes.append(note.code);
        found.append(deviceCodes.join(QLatin1Char(' ')));
    }
    QCOMPARE(found, codes);
}

void tst_CliUnits::planReading_data()
{
    QTest::addColumn<QByteArray>("text");
    // What was read: "LINE SERIAL ADDRESS yes|no" per line, "LINE fault: ..." for a faulty one,
    // or "error: ..." when the plan as a whole cannot be read.
    QTest::addColumn<QStringList>("read");

    QTest::newRow("as plan writes it")
        << QByteArray("serial,name,current_address,stored_address,new_address,set_time\r\n"
                      "65536,\"'=x,\"\"y\"\"\",10.77.1.1,10.77.1.1,10.77.5.1,yes\r\n"
                      "-5,\"-5\",10.77.1.2,10.77.1.2,10.77.5.2,no\r\n")
        << QStringList { "2 65536 10.77.5.1 yes", "3 -5 10.77.5.2 no" };
    QTest::newRow("by hand: columns in any order, blanks, LF, a byte-order mark")
        << QByteArray("\xEF\xBB\xBFNew_Address , Serial\n 10.77.5.9 ,  7 \n\n10.77.5.8,8")
        << QStringList { "2 7 10.77.5.9 no", "4 8 10.77.5.8 no" };
    QTest::newRow("set_time words")
        << QByteArray("serial,new_address,set_time\n1,,YES\n2,,true\n3,10.77.5.3,1\n"
                      "4,10.77.5.4,\n5,10.77.5.5,False\n")
        << QStringList { "2 1 - yes", "3 2 - yes", "4 3 10.77.5.3 yes", "5 4 10.77.5.4 no",
                         "6 5 10.77.5.5 no" };
    QTest::newRow("a line break inside quotes counts")
        << QByteArray("serial,name,new_address\n1,\"two\nlines\",10.77.5.1\n2,x,10.77.5.2\n")
        << QStringList { "2 1 10.77.5.1 no", "4 2 10.77.5.2 no" };
    QTest::newRow("faulty lines are kept with their faults")
        << QByteArray("serial,new_address,set_time\nx1,10.77.5.1,no\n2,010.77.5.2,no\n3,,no\n"
                      "4,10.77.5.4\n5,10.77.5.5,perhaps\n")
        << QStringList { "2 fault: serial \"x1\" is not a whole number that fits a device's "
                         "serial",
                         "3 fault: new_address \"010.77.5.2\" is not an IPv4 address (four "
                         "decimal octets, no leading zeros)",
                         "4 fault: it asks for nothing: no new_address, set_time no",
                         "5 fault: it has 2 cell(s), the header 3",
                         "6 fault: set_time \"perhaps\" is not yes or no (nor 1/0, true/false)" };
    // Read by position, the first line would pass and the second would lose its address.
    QTest::newRow("a stray comma") << QByteArray("serial,new_address\n1,10.77.5.1,\n2,,10.77.5.2\n")
                                   << QStringList { "2 fault: it has 3 cell(s), the header 2",
                                                    "3 fault: it has 3 cell(s), the header 2" };
    QTest::newRow("semicolons, as spreadsheets write in many locales")
        << QByteArray("serial;new_address\n1;10.77.5.1\n")
        << QStringList { "error: line 1: one cell 'serial;new_address': separate cells with "
                         "commas, not semicolons" };
    QTest::newRow("a line with semicolons")
        << QByteArray("serial,new_address\n1;10.77.5.1\n2,10.77.5.2\n")
        << QStringList { "2 fault: one cell '1;10.77.5.1': separate cells with commas, not "
                         "semicolons",
                         "3 2 10.77.5.2 no" };
    QTest::newRow("serial beyond 32 bits")
        << QByteArray("serial,new_address\n4294967296,10.77.5.1\n")
        << QStringList { "2 fault: serial \"4294967296\" is not a whole number that fits a "
                         "device's serial" };
    QTest::newRow("no serial column")
        << QByteArray("name,new_address\nA,10.77.5.1\n")
        << QStringList { "error: line 1: the header has no \"serial\" column; a plan needs "
                         "serial and new_address (set_time optional)" };
    QTest::newRow("quote never closed") << QByteArray("serial,new_address\n\"1,10.77.5.1\n")
                                        << QStringList { "error: line 2: a quote is opened and "
                                                         "never closed" };
    QTest::newRow("text after a closing quote")
        << QByteArray("serial,new_address\n\"1\"x,10.77.5.1\n")
        << QStringList { "error: line 2: text after a quoted cell's closing quote" };
    QTest::newRow("empty") << QByteArray("\n\n")
                           << QStringList { "error: the plan is empty: it needs a header line "
                                            "such as \"serial,new_address\"" };
}

void tst_CliUnits::planReading()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, read);
    const Plan::Read plan = Plan::read(text);
    QStringList found;
    if (!plan.error.isEmpty())
        found.append(QStringLiteral("error: ") + plan.error);
    for (const PlanLine &line : plan.lines) {
        if (!line.fault.isEmpty())
            found.append(QStringLiteral("%1 fault: %2").arg(line.lineNumber).arg(line.fault));
        else
            found.append(QStringLiteral("%1 %2 %3 %4")
                             .arg(line.lineNumber)
                             .arg(line.serial)
                             .arg(line.newAddress ? AddressRules::format(*line.newAddress)
                                                  : QStringLiteral("-"),
                                  line.setTime ? QStringLiteral("yes") : QStringLiteral("no")));
    }
    QCOMPARE(found, read);
}

void tst_CliUnits::tokenBucket_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("stallMs"); // no one asks for a token from 1 s on, for this long
    QTest::newRow("200/s, steady") << 200 << 0;
    QTest::newRow("200/s, 2 s stall") << 200 << 2000;
    QTest::newRow("500/s, 700 ms stall") << 500 << 700;
    QTest::newRow("3/s, 5 s stall") << 3 << 5000;
}

void tst_CliUnits::tokenBucket()
{
    QFETCH(int, rate);
    QFETCH(int, stallMs);
    // Asked every millisecond for 4 s of activity, on a clock of the test's own.
    const int depth = TokenBucket::depthFor(rate, 5);
    TokenBucket bucket(rate, depth);
    bucket.start(0);
    QList<qint64> taken;
    int afterStall = 0;
    for (qint64 ms = 0; ms < 4000 + stallMs; ++ms) {
        if (ms >= 1000 && ms < 1000 + stallMs)
            continue;
        if (bucket.take(ms * msNs)) {
            taken.append(ms * msNs);
            afterStall += stallMs > 0 && ms == 1000 + stallMs ? 1 : 0;
        }
    }
    QVERIFY2(busiestWindow(taken, 1000 * msNs) <= rate + depth,
             qPrintable(QString::number(busiestWindow(taken, 1000 * msNs))));
    QVERIFY(afterStall <= depth);
    // The rate is kept while tokens are asked for: 4 s of asking, give or take a burst at the
    // start and one after the stall.
    QVERIFY2(qAbs(taken.size() - 4 * rate) <= 2 * depth, qPrintable(QString::number(taken.size())));
}

void tst_CliUnits::pacerAfterStall()
{
    // The event loop held up for 600 ms after the first call: the backlog may not leave at once.
    constexpr int rate = 100;
    Pacer pacer(rate);
    QSignalSpy finished(&pacer, &Pacer::finished);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> calls;
    pacer.start(160, [&](int index) {
        calls.append(clock.nsecsElapsed());
        if (index == 0)
            QThread::msleep(600);
    });
    QVERIFY(finished.wait(10000));
    QCOMPARE(calls.size(), 160);
    // A call's time is read in the call, after the pacer let it go: a busy machine that
    // preempts the test between the two moves one call later, next to the one after it. So a
    // window may hold one call more than the pacer let go in it, never two.
    const int depth = TokenBucket::depthFor(rate, 5);
    QVERIFY2(busiestWindow(calls, 1000 * msNs) <= rate + depth + 1,
             qPrintable(QString::number(busiestWindow(calls, 1000 * msNs))));
    QVERIFY2(busiestWindow(calls, 2 * msNs) <= depth + 1,
             qPrintable(QString::number(busiestWindow(calls, 2 * msNs))));
}

void tst_CliUnits::pacerOrder_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("count");
    QTest::newRow("nothing to call") << 100 << 0;
    QTest::newRow("one call") << 100 << 1;
    QTest::newRow("50/s") << 50 << 20;
    QTest::newRow("1000/s") << 1000 << 300;
}

void tst_CliUnits::pacerOrder()
{
    // Every index once and in order, from the event loop, then finished() once. Time is only
    // bounded from below: a loaded machine makes the calls later, never sooner.
    QFETCH(int, rate);
    QFETCH(int, count);
    Pacer pacer(rate);
    QSignalSpy finished(&pacer, &Pacer::finished);
    QElapsedTimer clock;
    clock.start();
    int calls = 0;
    qint64 lastNs = 0;
    pacer.start(count, [&](int index) {
        QCOMPARE(index, calls++);
        lastNs = clock.nsecsElapsed();
    });
    QCOMPARE(calls, 0);
    QVERIFY(finished.wait(30000));
    QTest::qWait(30);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(calls, count);
    // A few may go at once (the bucket's depth, at most two 5 ms ticks' worth), the rest one
    // each 1/rate s.
    const qint64 earliestNs = (count - TokenBucket::depthFor(rate, 5)) * (1000 * msNs / rate);
    QVERIFY2(lastNs >= earliestNs, qPrintable(QString::number(lastNs / msNs)));
}

void tst_CliUnits::surveyPool_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("cap");
    QTest::addColumn<int>("pool"); // queries outstanding at once
    // Figures a stock limit of 1,024 open files leaves room for.
    QTest::newRow("rate times both tries") << 50 << 1000 << 1 << 1024 << 100;
    QTest::newRow("short waits") << 500 << 100 << 1 << 1024 << 100;
    QTest::newRow("a part rounds up") << 3 << 100 << 0 << 1024 << 1;
    QTest::newRow("capped") << 1000 << 1000 << 1 << 150 << 150;
}

void tst_CliUnits::surveyPool()
{
    QFETCH(int, rate);
    QFETCH(int, timeoutMs);
    QFETCH(int, retries);
    QFETCH(int, cap);
    QFETCH(int, pool);
    QCOMPARE(ClockSurvey::concurrencyFor(rate, timeoutMs, retries, cap), pool);
}

QTEST_GUILESS_MAIN(tst_CliUnits)
#include "tst_cliunits.moc"
