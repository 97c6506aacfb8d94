// Renders the window icon: a mains plug lying diagonally, pins to the upper right and cable
// to the lower left, in one flat colour on a transparent background.
//
//   make_icon resources/pic/uart.png [preview.png PREVIEW_SIZE]
//
// The icon is written as an uncompressed PNG (stored deflate blocks), 200 x 200, 8-bit RGBA.
// The optional second file is a smoothly scaled preview, to judge the drawing at small sizes.

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int kIconSize = 200;
const QColor kIconColour(0x12, 0x96, 0xDB);

// The plug upright around the origin, pins up (negative y), cable down. Every point keeps
// |x| + |y| below 134, so that turned by 45 degrees it stays inside the 200 x 200 square.
QPainterPath uprightPlug() {
    QPainterPath plug;
    plug.setFillRule(Qt::WindingFill);

    // Two flat pins with rounded tips.
    for (const qreal centreX : {-21.0, 21.0})
        plug.addRoundedRect(QRectF(centreX - 7.5, -106, 15, 56), 6, 6);

    // The body: a broad head that narrows into the cable's sleeve.
    QPainterPath body;
    body.moveTo(-46, -40);
    body.quadTo(-46, -56, -30, -56);
    body.lineTo(30, -56);
    body.quadTo(46, -56, 46, -40);
    body.lineTo(46, -6);
    body.quadTo(46, 4, 36, 12);
    body.lineTo(18, 28);
    body.lineTo(18, 44);
    body.lineTo(-18, 44);
    body.lineTo(-18, 28);
    body.lineTo(-36, 12);
    body.quadTo(-46, 4, -46, -6);
    body.closeSubpath();
    plug.addPath(body);

    // The cable leaves the sleeve and bends a little, as a real one lies.
    QPainterPath cableLine;
    cableLine.moveTo(0, 40);
    cableLine.cubicTo(0, 70, 14, 86, 6, 118);
    QPainterPathStroker stroker;
    stroker.setWidth(15);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    plug.addPath(stroker.createStroke(cableLine));
    return plug.simplified();
}

// Grip grooves across the head; they vanish at small sizes, which is fine.
QPainterPath gripGrooves() {
    QPainterPath grooves;
    for (const qreal y : {-34.0, -20.0, -6.0})
        grooves.addRoundedRect(QRectF(-30, y - 3, 60, 6), 3, 3);
    return grooves;
}

// Coverage of the drawing in the alpha channel, one colour everywhere: anti-aliasing only
// varies alpha, so no edge pixel drifts away from the icon's colour.
QImage renderIcon() {
    QImage coverage(kIconSize, kIconSize, QImage::Format_ARGB32_Premultiplied);
    coverage.fill(Qt::transparent);
    {
        QPainter painter(&coverage);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(kIconSize / 2.0, kIconSize / 2.0);
        painter.rotate(45);  // pins up becomes pins to the upper right
        painter.fillPath(uprightPlug(), Qt::black);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillPath(gripGrooves(), Qt::black);
    }

    QImage icon(kIconSize, kIconSize, QImage::Format_ARGB32);
    for (int y = 0; y < kIconSize; ++y) {
        const QRgb *source = reinterpret_cast<const QRgb *>(coverage.constScanLine(y));
        QRgb *target = reinterpret_cast<QRgb *>(icon.scanLine(y));
        for (int x = 0; x < kIconSize; ++x) {
            const int alpha = qAlpha(source[x]);
            target[x] = alpha == 0 ? qRgba(0, 0, 0, 0)
                                   : qRgba(kIconColour.red(), kIconColour.green(),
                                           kIconColour.blue(), alpha);
        }
    }
    return icon;
}

bool writePng(const QImage &image, const QString &path, int quality) {
    QImageWriter writer(path, "png");
    writer.setQuality(quality);
    if (writer.write(image))
        return true;
    QTextStream(stderr) << "make_icon: cannot write " << path << ": " << writer.errorString()
                        << '\n';
    return false;
}

}  // namespace

int main(int argc, char *argv[]) {
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 2 && arguments.size() != 4) {
        QTextStream(stderr) << "usage: make_icon ICON.png [PREVIEW.png PREVIEW_SIZE]\n";
        return 2;
    }

    const QImage icon = renderIcon();
    // Quality 100 is zlib level 0 for Qt's PNG writer: stored blocks, nothing compressed.
    if (!writePng(icon, arguments.at(1), 100))
        return 1;

    if (arguments.size() == 4) {
        bool sizeOk = false;
        const int previewSize = arguments.at(3).toInt(&sizeOk);
        if (!sizeOk || previewSize <= 0) {
            QTextStream(stderr) << "make_icon: bad preview size " << arguments.at(3) << '\n';
            return 2;
        }
        const QImage preview =
            icon.scaled(previewSize, previewSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!writePng(preview, arguments.at(2), -1))
            return 1;
    }
    return 0;
}
