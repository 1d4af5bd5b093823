// Whatever text reaches SettingsForm::settingsCommand() — the form only lets complete addresses
// through, but the function takes any string — must give a well-formed 14-byte command, and
// any clock value a well-formed set-time command. Both are static: no QApplication needed.

#include "settingsform.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace {

constexpr quint8 mask = 0xA7;

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

QByteArray unscrambled(QByteArray bytes)
{
    for (char &byte : bytes)
        byte = char(byte ^ mask);
    return bytes;
}

// The four octets of a complete dotted address as the form's validator accepts it (1 to 3
// ASCII digits, at most 255, per part); nothing for any other text.
std::optional<std::array<quint8, 4>> strictAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    std::array<quint8, 4> octets {};
    for (int k = 0; k < 4; ++k) {
        const QString &part = parts.at(k);
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        int value = 0;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
            value = value * 10 + (c.unicode() - '0');
        }
        if (value > 255)
            return std::nullopt;
        octets[size_t(k)] = quint8(value);
    }
    return octets;
}

void checkSettings(const QString &address)
{
    const QByteArray command = SettingsForm::settingsCommand(address);
    require(command.size() == 14);
    const QByteArray plain = unscrambled(command);
    require(plain.startsWith("stsets"));
    require(plain.at(6) == 1 && plain.at(7) == 1 && plain.at(8) == 0 && plain.at(9) == 1);

    // Every address the form lets through reaches the device octet for octet.
    if (const auto octets = strictAddress(address)) {
        for (int k = 0; k < 4; ++k)
            require(quint8(plain.at(10 + k)) == (*octets)[size_t(k)]);
    }
}

void checkSetTime(qint64 secs)
{
    const QByteArray command = SettingsForm::setTimeCommand(secs);
    require(command.size() == 10);
    const QByteArray plain = unscrambled(command);
    require(plain.startsWith("sttime"));
    // The device clock holds the low 32 bits, least significant byte first.
    const quint64 bits = quint64(secs);
    for (int k = 0; k < 4; ++k)
        require(quint8(plain.at(6 + k)) == quint8(bits >> (8 * k)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto *text = reinterpret_cast<const char *>(data);
    const auto length = qsizetype(size);
    checkSettings(QString::fromUtf8(text, length));
    checkSettings(QString::fromLatin1(text, length));

    // The first eight bytes (zero-padded) are a clock value.
    qint64 secs = 0;
    if (size > 0)
        std::memcpy(&secs, data, size < sizeof secs ? size : sizeof secs);
    checkSetTime(secs);
    return 0;
}
