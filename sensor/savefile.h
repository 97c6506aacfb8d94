#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class QImage;

// The file the save actions suggest: in the user's documents folder, named after the moment,
// as in sensor-20261207-153000.csv for the stem "sensor" and the suffix "csv".
QString suggestedSavePath(const QString &stem, const QString &suffix, const QDateTime &at);

// Writes the whole file or leaves what was there (a temporary file renamed into place);
// false with the system's reason.
bool saveWholeFile(const QString &path, const QByteArray &bytes, QString *reason);

// The picture as a PNG file's bytes, whatever suffix its name has.
QByteArray pngBytes(const QImage &image);
