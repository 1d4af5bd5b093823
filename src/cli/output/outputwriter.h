#ifndef OUTPUTWRITER_H
#define OUTPUTWRITER_H

#include "options.h"
#include "scanreport.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>

#include <memory>

// Writes a scan's result in one format. Names from the wire never reach the output raw.
class OutputWriter
{
public:
    using Format = Options::Format;

    virtual ~OutputWriter() = default;
    virtual QByteArray write(const ScanReport &report) const = 0;

    static std::unique_ptr<OutputWriter> create(Format format);

    // Rows as columns two blanks apart, each as wide as its widest cell; the last column is not
    // padded. Every command's table is laid out so.
    static QString aligned(const QList<QStringList> &rows);
    // [{"code": ..., "text": ...}], as every JSON document lists notes.
    static QJsonArray notesJson(const QList<HealthNote> &notes);
    // [{"address": ..., "interface": ..., "subnet": ...}], where the scan probed from.
    static QJsonArray scannedFromJson(const QList<LocalAddress> &from);
};

// Aligned columns for a person, then the health notes in full.
class TableWriter : public OutputWriter
{
public:
    QByteArray write(const ScanReport &report) const override;
};

// The versioned document described in docs/cli.md.
class JsonWriter : public OutputWriter
{
public:
    QByteArray write(const ScanReport &report) const override;
};

// A header line and one line per device, RFC 4180, CRLF line ends.
class CsvWriter : public OutputWriter
{
public:
    QByteArray write(const ScanReport &report) const override;
};

#endif // OUTPUTWRITER_H
