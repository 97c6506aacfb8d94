#include "sensor/savefile.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>

QString suggestedSavePath(const QString &stem, const QString &suffix, const QDateTime &at) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    // The C locale: digits and separators the same everywhere.
    const QString moment = QLocale::c().toString(at, QStringLiteral("yyyyMMdd-HHmmss"));
    return QDir(folder).filePath(stem + QLatin1Char('-') + moment + QLatin1Char('.') + suffix);
}

bool saveWholeFile(const QString &path, const QByteArray &bytes, QString *reason) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

QByteArray pngBytes(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
