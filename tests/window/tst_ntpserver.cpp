#include "ntpserver.h"

#include "deviceprotocol.h"
#include "devicereply.h"

#include <QTest>
#include <QUdpSocket>

namespace {

QByteArray octets(quint8 a, quint8 b, quint8 c, quint8 d)
{
    const char bytes[] = { char(a), char(b), char(c), char(d) };
    return QByteArray(bytes, 4);
}

} // namespace

class tst_NTPserver : public QObject
{
    Q_OBJECT

private slots:
    void emptyRecord();
    void parsesFields_data();
    void parsesFields();
    void flags_data();
    void flags();
    void signature_data();
    void signature();
    void descramblesInPlace_data();
    void descramblesInPlace();
    void shortDatagram_data();
    void shortDatagram();
    void copiesKeepEverything();
};

void tst_NTPserver::emptyRecord()
{
    const NTPserver record;
    QCOMPARE(record.get_ntp_udpSocket_ptr(), nullptr);
    QVERIFY(!record.get_ntp_protocol() && !record.get_mbtcp_protocol()
            && !record.get_melsec_protocol() && !record.get_gps_enabled());
    QCOMPARE(record.get_ip_current(), 0);
    QCOMPARE(record.get_serial(), 0);
    QCOMPARE(record.get_signature(), 0);
    QVERIFY(record.get_title().isEmpty());
    QVERIFY(record.get_ip_current_s().isEmpty());
}

void tst_NTPserver::parsesFields_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QByteArray>("eeprom");
    QTest::addColumn<qint32>("uptime");
    QTest::addColumn<qint32>("serial");
    QTest::addColumn<QString>("mainChip");
    QTest::addColumn<QString>("currentText");
    QTest::addColumn<QString>("eepromText");
    QTest::addColumn<qint32>("currentValue");

    QTest::newRow("full 13-byte name") << QByteArray("TIMESERVER-01") << octets(192, 168, 1, 20)
                                       << octets(10, 0, 0, 7) << 17 << 123456 << "TIMESERVER-01"
                                       << "192.168.1.20"
                                       << "10.0.0.7" << qint32(0x1401a8c0);
    QTest::newRow("NUL padded name kept at 13")
        << QByteArray("NTP") << octets(10, 77, 1, 2) << octets(10, 77, 1, 2) << 0 << 1
        << QString::fromLatin1("NTP\0\0\0\0\0\0\0\0\0\0", 13) << "10.77.1.2"
        << "10.77.1.2" << qint32(0x02014d0a);
    QTest::newRow("zero addresses")
        << QByteArray("A") << octets(0, 0, 0, 0) << octets(0, 0, 0, 0) << 1 << 2
        << QString::fromLatin1("A\0\0\0\0\0\0\0\0\0\0\0\0", 13) << "0.0.0.0"
        << "0.0.0.0" << 0;
    QTest::newRow("top octets and Latin-1 name")
        << QByteArray("\xe9t\xe9-\xff") << octets(255, 255, 255, 255) << octets(254, 128, 127, 1)
        << -5 << -2 << QString::fromLatin1("\xe9t\xe9-\xff\0\0\0\0\0\0\0\0", 13)
        << "255.255.255.255"
        << "254.128.127.1" << -1;
    QTest::newRow("negative serial")
        << QByteArray("SER") << octets(10, 0, 0, 1) << octets(10, 0, 0, 1) << 3 << -1
        << QString::fromLatin1("SER\0\0\0\0\0\0\0\0\0\0", 13) << "10.0.0.1"
        << "10.0.0.1" << qint32(0x0100000a);
}

void tst_NTPserver::parsesFields()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, current);
    QFETCH(QByteArray, eeprom);
    QFETCH(qint32, uptime);
    QFETCH(qint32, serial);
    QFETCH(QString, mainChip);
    QFETCH(QString, currentText);
    QFETCH(QString, eepromText);
    QFETCH(qint32, currentValue);

    DeviceReply reply;
    reply.name = name;
    for (int k = 0; k < 4; ++k) {
        reply.current[k] = quint8(current.at(k));
        reply.eeprom[k] = quint8(eeprom.at(k));
    }
    reply.uptime = uptime;
    reply.serial = serial;

    QUdpSocket socket;
    QByteArray datagram = reply.scrambled();
    const NTPserver record(datagram, &socket);

    QCOMPARE(record.get_ntp_udpSocket_ptr(), &socket);
    QCOMPARE(record.get_main_chip().size(), 13);
    QCOMPARE(record.get_main_chip(), mainChip);
    QCOMPARE(record.get_ip_current_s(), currentText);
    QCOMPARE(record.get_ip_eeprom_s(), eepromText);
    QCOMPARE(record.get_ip_current(), currentValue);
    QCOMPARE(record.get_uptime(), uptime);
    QCOMPARE(record.get_serial(), serial);
    QCOMPARE(record.get_title(), mainChip + QLatin1Char('@') + currentText);
    // Fields no reply carries stay empty.
    QCOMPARE(record.get_system_time(), 0);
    QCOMPARE(record.get_manufacture_date(), 0);
    QVERIFY(record.get_gps_chip().isEmpty() && record.get_eth_chip().isEmpty()
            && record.get_firmware_version().isEmpty());
}

void tst_NTPserver::flags_data()
{
    QTest::addColumn<int>("ntp");
    QTest::addColumn<int>("mbtcp");
    QTest::addColumn<int>("melsec");
    QTest::addColumn<int>("gps");

    QTest::newRow("all clear") << 0 << 0 << 0 << 0;
    QTest::newRow("all one") << 1 << 1 << 1 << 1;
    QTest::newRow("two and 255 read as enabled") << 2 << 0 << 255 << 0;
    QTest::newRow("ntp and gps") << 1 << 0 << 0 << 2;
    QTest::newRow("modbus only") << 0 << 255 << 0 << 0;
}

void tst_NTPserver::flags()
{
    QFETCH(int, ntp);
    QFETCH(int, mbtcp);
    QFETCH(int, melsec);
    QFETCH(int, gps);

    DeviceReply reply;
    reply.flags = { quint8(ntp), quint8(mbtcp), quint8(melsec), quint8(gps) };
    QByteArray datagram = reply.scrambled();
    const NTPserver record(datagram, nullptr);

    QCOMPARE(record.get_ntp_protocol(), ntp != 0);
    QCOMPARE(record.get_mbtcp_protocol(), mbtcp != 0);
    QCOMPARE(record.get_melsec_protocol(), melsec != 0);
    QCOMPARE(record.get_gps_enabled(), gps != 0);
}

void tst_NTPserver::signature_data()
{
    QTest::addColumn<qint32>("uptimeA");
    QTest::addColumn<qint32>("serialA");
    QTest::addColumn<qint32>("uptimeB");
    QTest::addColumn<qint32>("serialB");
    QTest::addColumn<bool>("equal");

    QTest::newRow("same device") << 5 << 1000 << 5 << 1000 << true;
    QTest::newRow("differ only in uptime") << 5 << 1000 << 6 << 1000 << false;
    QTest::newRow("differ only in serial") << 5 << 1000 << 5 << 1001 << false;
    // The signature is serial XOR uptime, so these two devices cannot be told apart.
    QTest::newRow("swapped serial and uptime") << 3 << 5 << 5 << 3 << true;
}

void tst_NTPserver::signature()
{
    QFETCH(qint32, uptimeA);
    QFETCH(qint32, serialA);
    QFETCH(qint32, uptimeB);
    QFETCH(qint32, serialB);
    QFETCH(bool, equal);

    DeviceReply a;
    a.uptime = uptimeA;
    a.serial = serialA;
    DeviceReply b = a;
    b.uptime = uptimeB;
    b.serial = serialB;
    b.name = "OTHER NAME"; // the name plays no part in the signature

    QByteArray first = a.scrambled();
    QByteArray second = b.scrambled();
    const NTPserver ra(first, nullptr);
    const NTPserver rb(second, nullptr);

    QCOMPARE(ra.get_signature(), serialA ^ uptimeA);
    QCOMPARE(ra.get_signature() == rb.get_signature(), equal);
}

void tst_NTPserver::descramblesInPlace_data()
{
    QTest::addColumn<int>("extra");
    QTest::newRow("exactly 64") << 0;
    QTest::newRow("65 bytes") << 1;
    QTest::newRow("maximum datagram") << 65507 - 64;
}

void tst_NTPserver::descramblesInPlace()
{
    QFETCH(int, extra);

    DeviceReply reply;
    reply.name = "CLOCK";
    reply.tailFill = char(0x5A);
    const QByteArray tail(extra, char(0x33));
    QByteArray datagram = reply.scrambled() + tail;

    const NTPserver record(datagram, nullptr);

    QCOMPARE(datagram.size(), 64 + extra);
    QCOMPARE(datagram.left(64), reply.plain());
    QCOMPARE(datagram.mid(64), tail);
}

void tst_NTPserver::shortDatagram_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("name only") << 13;
    QTest::newRow("one short") << 63;
}

void tst_NTPserver::shortDatagram()
{
    QFETCH(int, size);

    DeviceReply reply;
    reply.name = "SHORT";
    reply.serial = 77;
    const QByteArray original = reply.scrambled().left(size);
    QByteArray datagram = original;
    QUdpSocket socket;

    QVERIFY(!NTPserver::isReply(datagram));
    // The companion's reader refuses it too.
    QVERIFY(!DeviceProtocol::readReply(DeviceProtocol::scrambled(datagram)));
    const NTPserver record(datagram, &socket);

    QCOMPARE(datagram, original);
    QVERIFY(record.get_title().isEmpty());
    QCOMPARE(record.get_serial(), 0);
    QCOMPARE(record.get_ntp_udpSocket_ptr(), nullptr);
}

void tst_NTPserver::copiesKeepEverything()
{
    DeviceReply reply;
    reply.name = "COPY";
    reply.serial = 42;
    reply.uptime = 7;
    QUdpSocket socket;
    QByteArray datagram = reply.scrambled();
    NTPserver parsed(datagram, &socket);

    NTPserver scratch;
    scratch = std::move(parsed);
    const NTPserver copy = scratch;

    QCOMPARE(copy.get_title(), scratch.get_title());
    QCOMPARE(copy.get_signature(), 42 ^ 7);
    QCOMPARE(copy.get_ntp_udpSocket_ptr(), &socket);
}

QTEST_GUILESS_MAIN(tst_NTPserver)
#include "tst_ntpserver.moc"
