#include "sensor/csv.h"

QByteArray csvField(const QString &text) {
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\r') ||
        field.contains('\n')) {
        field.replace('"', "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

QByteArray csvRecord(const QStringList &fields) {
    QByteArray record;
    for (const QString &field : fields) {
        if (!record.isEmpty())
            record += ',';
        record += csvField(field);
    }
    return record + "\r\n";
}

CsvRecords parseCsv(const QString &text, QChar separator) {
    CsvRecords result;
    QStringList fields;
    QString field;
    bool inQuotes = false;
    bool afterClosingQuote = false;
    bool recordStarted = false;
    const auto endField = [&] {
        fields << field;
        field.clear();
        afterClosingQuote = false;
    };
    const auto endRecord = [&] {
        endField();
        result.records << fields;
        fields.clear();
        recordStarted = false;
    };
    const int length = int(text.size());
    for (int i = 0; i < length; ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c != QLatin1Char('"')) {
                field += c;
            } else if (i + 1 < length && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else {
                inQuotes = false;
                afterClosingQuote = true;
            }
            continue;
        }
        const bool endOfLine = c == QLatin1Char('\r') || c == QLatin1Char('\n');
        if (afterClosingQuote && c != separator && !endOfLine) {
            result.badRecord = int(result.records.size()) + 1;
            return result;
        }
        recordStarted = true;
        if (c == separator) {
            endField();
        } else if (endOfLine) {
            if (c == QLatin1Char('\r') && i + 1 < length && text[i + 1] == QLatin1Char('\n'))
                ++i;
            endRecord();
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
            // Blanks before an opening quote are a spreadsheet's padding, not the field's.
            field.clear();
            inQuotes = true;
        } else {
            field += c;
        }
    }
    if (inQuotes) {
        result.badRecord = int(result.records.size()) + 1;
        return result;
    }
    if (recordStarted)
        endRecord();
    return result;
}
