// Scales the window icon to one of the icon theme's sizes for installing:
//
//   scale_icon resources/pic/uart.png OUT.png SIZE
//   scale_icon resources/pic/uart.png OUT.ico SIZE,SIZE,...
//
// The drawing is 200 x 200, which no hicolor size directory takes, so the build writes the
// sizes it installs from it. The second form writes a Windows icon holding each size, for
// the Windows programs and their installer (resources/windows/sensor_workbench.ico, written
// by hand when the drawing changes: a cross build cannot run this tool).

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTextStream>
#include <QtEndian>

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

QImage scaledIcon(const QImage &icon, int size) {
    return icon.convertToFormat(QImage::Format_ARGB32)
        .scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

template <typename T>
void appendLittleEndian(QByteArray &bytes, T value) {
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, int(sizeof(T)));
}

// An ICO file whose images are PNG streams, which Windows takes since Vista: a header, one
// directory entry per image, then the images.
QByteArray icoFile(const QList<QImage> &images) {
    QList<QByteArray> pngs;
    for (const QImage &image : images) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "png"))
            return {};
        pngs.append(png);
    }
    QByteArray file;
    appendLittleEndian<quint16>(file, 0);  // reserved
    appendLittleEndian<quint16>(file, 1);  // an icon, not a cursor
    appendLittleEndian<quint16>(file, quint16(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    for (int i = 0; i < images.size(); ++i) {
        const int size = images.at(i).width();
        file.append(char(size >= 256 ? 0 : size));  // 0 stands for 256
        file.append(char(size >= 256 ? 0 : size));
        file.append(char(0));  // no palette
        file.append(char(0));
        appendLittleEndian<quint16>(file, 1);   // colour planes
        appendLittleEndian<quint16>(file, 32);  // bits per pixel
        appendLittleEndian<quint32>(file, quint32(pngs.at(i).size()));
        appendLittleEndian<quint32>(file, offset);
        offset += quint32(pngs.at(i).size());
    }
    for (const QByteArray &png : pngs)
        file.append(png);
    return file;
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    QTextStream err(stderr);
    if (arguments.size() != 4) {
        err << "usage: scale_icon ICON.png OUT.png SIZE | scale_icon ICON.png OUT.ico SIZE,...\n";
        return kUsageError;
    }
    const bool windowsIcon = arguments.at(2).endsWith(QLatin1String(".ico"));
    QList<int> sizes;
    for (const QString &text : arguments.at(3).split(QLatin1Char(','))) {
        bool sizeOk = false;
        const int size = text.toInt(&sizeOk);
        // An ICO directory entry holds at most 256.
        if (!sizeOk || size <= 0 || size > (windowsIcon ? 256 : 1024)) {
            err << "scale_icon: bad size " << text << '\n';
            return kUsageError;
        }
        sizes.append(size);
    }
    if (!windowsIcon && sizes.size() != 1) {
        err << "scale_icon: a PNG file takes one size\n";
        return kUsageError;
    }

    QImageReader reader(arguments.at(1));
    const QImage icon = reader.read();
    if (icon.isNull()) {
        err << "scale_icon: cannot read " << arguments.at(1) << ": " << reader.errorString()
            << '\n';
        return kFailure;
    }
    // Theme icons are square; a stretched drawing would be a mistake upstream.
    if (icon.width() != icon.height()) {
        err << "scale_icon: " << arguments.at(1) << " is " << icon.width() << " x " << icon.height()
            << ", not square\n";
        return kFailure;
    }

    if (windowsIcon) {
        QList<QImage> images;
        for (const int size : sizes)
            images.append(scaledIcon(icon, size));
        const QByteArray bytes = icoFile(images);
        QFile out(arguments.at(2));
        if (bytes.isEmpty() || !out.open(QIODevice::WriteOnly) ||
            out.write(bytes) != bytes.size() || !out.flush()) {
            err << "scale_icon: cannot write " << arguments.at(2) << ": " << out.errorString()
                << '\n';
            return kFailure;
        }
        return 0;
    }

    QImageWriter writer(arguments.at(2), "png");
    if (!writer.write(scaledIcon(icon, sizes.first()))) {
        err << "scale_icon: cannot write " << arguments.at(2) << ": " << writer.errorString()
            << '\n';
        return kFailure;
    }
    return 0;
}
