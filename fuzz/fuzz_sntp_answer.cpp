// Anyone who can send to the query's port can send it an "answer": SntpQuery::judge() takes any
// datagram. Nothing shorter than 48 bytes, and nothing that does not carry one of our transmit
// times, is taken for an answer; a time is only read from a well-formed server answer; what the
// result says stands in the first 48 bytes, and the bytes after them change nothing. The checks
// read the layout (RFC 4330) themselves rather than trusting the judge.

#include "sntpquery.h"

#include <QByteArray>
#include <QHostAddress>
#include <QtEndian>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

constexpr int answerSize = 48;
// The transmit time of the request the seeds answer (fuzz/make_corpus.py writes the same).
constexpr quint64 ourStamp = 0xEAD2A1F05A5A1234ULL;

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

quint64 field(const QByteArray &bytes, int offset, int size)
{
    quint64 value = 0;
    for (int i = offset; i < offset + size && i < bytes.size(); ++i)
        value = value << 8 | quint8(bytes.at(i));
    return value;
}

bool same(const SntpQuery::Result &a, const SntpQuery::Result &b)
{
    return a.answered == b.answered && a.error == b.error && a.offsetSeconds == b.offsetSeconds
        && a.delaySeconds == b.delaySeconds && a.stratum == b.stratum && a.leap == b.leap
        && a.version == b.version && a.referenceId == b.referenceId && a.attempts == b.attempts
        && a.kissOfDeath == b.kissOfDeath;
}

void check(const SntpQuery::Result &result, const QByteArray &answer)
{
    const auto first = quint8(answer.at(0));
    const int mode = first & 7;
    require(result.leap == first >> 6 && result.version == ((first >> 3) & 7));
    require(result.stratum == quint8(answer.at(1)) && result.attempts == 0);
    const bool readable = mode == 4 && (result.version == 3 || result.version == 4);
    require(!result.kissOfDeath || (readable && result.stratum == 0 && !result.answered));
    require(result.answered || !result.error.isEmpty());
    require(result.synchronised() == (result.answered && result.error.isEmpty()));
    if (result.answered) {
        const quint64 receive = field(answer, 32, 8);
        const quint64 transmit = field(answer, 40, 8);
        require(readable && result.stratum > 0 && receive != 0 && transmit != 0);
        require(qint64(transmit - receive) >= 0);
        // Each difference of two timestamps lies within +-2^31 s.
        require(std::fabs(result.offsetSeconds) <= 2147483648.0);
        require(std::fabs(result.delaySeconds) <= 4294967296.0);
    } else {
        require(result.offsetSeconds == 0 && result.delaySeconds == 0);
    }
    // The reference is shown as text that cannot act on a terminal, or as a dotted address.
    if (result.stratum <= 1) {
        require(result.referenceId.size() <= 16);
        for (const QChar c : result.referenceId)
            require(c.unicode() > 0x20 && c.unicode() < 0x7F);
    } else {
        require(QHostAddress(result.referenceId).toIPv4Address() == field(answer, 12, 4));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    // Our clock when the request left and when the answer came are taken from fields the judge
    // does not read (the reference time; root delay and dispersion), so the fuzzer drives them.
    const SntpQuery::Sent ours { ourStamp, field(answer, 16, 8) };
    const quint64 arrivedAt = field(answer, 4, 8);
    const quint64 originate = field(answer, 24, 8);

    const auto judged = SntpQuery::judge(answer, { ours }, arrivedAt);
    require(judged.has_value() == (answer.size() >= answerSize && originate == ourStamp));
    // Answering the second of two requests is answering.
    const QList<SntpQuery::Sent> two { ours, { originate, ours.sentAt } };
    const auto second = SntpQuery::judge(answer, two, arrivedAt);
    require(second.has_value() == (answer.size() >= answerSize));
    if (!second)
        return 0;
    require(!judged || same(*judged, *second));
    check(*second, answer);
    const auto first48 = SntpQuery::judge(answer.left(answerSize), two, arrivedAt);
    require(first48 && same(*first48, *second));
    return 0;
}
