#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>
#include <QVector>

// Comma-separated values as RFC 4180 has them, for the files the program writes and reads.

// What a UTF-8 file may begin with so that spreadsheets take it for UTF-8.
inline const QByteArray kUtf8ByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

// The text as one field: quoted when it holds a comma, a quote or a line break, its quotes
// doubled.
QByteArray csvField(const QString &text);
// The fields as one record, ended by CR LF.
QByteArray csvRecord(const QStringList &fields);

// The records of a text, quoted fields or not, lines ended by CR LF or LF. A quote that is
// never closed, or a closing quote followed by anything but the separator or the end of the
// record, makes the text unreadable: badRecord then counts from 1 the record where that is.
struct CsvRecords {
    QVector<QStringList> records;
    int badRecord = 0;
};
CsvRecords parseCsv(const QString &text, QChar separator = QLatin1Char(','));
