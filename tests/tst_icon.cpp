// The window icon in the resource bundle: the PNG file's own structure (read byte by byte,
// not through Qt's decoder), its pixels and its drawing, and that the window carries it.

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QtEndian>
#include <QtTest>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "app/mainwindow.h"

namespace {

const QString kIconPath = QStringLiteral(":/new/prefix1/pic/uart.png");
constexpr QRgb kIconColour = 0x1296DB;
constexpr int kIconSize = 200;
// Below this alpha a pixel is an anti-aliasing fringe whose colour nobody sees.
constexpr int kOpaqueEnough = 64;

std::uint32_t crc32(const QByteArray &bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ std::uint8_t(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(const QByteArray &bytes) {
    std::uint32_t a = 1, b = 0;
    for (const char byte : bytes) {
        a = (a + std::uint8_t(byte)) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

struct Chunk {
    QByteArray type;
    QByteArray data;
};

// The chunks of a PNG file, or nothing when the file is not well formed (signature, lengths,
// CRCs, IHDR first, IEND last).
std::optional<QList<Chunk>> readChunks(const QByteArray &file, QString *problem) {
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!file.startsWith(signature)) {
        *problem = QStringLiteral("no PNG signature");
        return std::nullopt;
    }
    QList<Chunk> chunks;
    int at = signature.size();
    while (at < file.size()) {
        if (file.size() - at < 12) {
            *problem = QStringLiteral("truncated chunk at %1").arg(at);
            return std::nullopt;
        }
        const quint32 length = qFromBigEndian<quint32>(file.constData() + at);
        if (length > quint32(file.size() - at - 12)) {
            *problem = QStringLiteral("chunk at %1 runs past the end").arg(at);
            return std::nullopt;
        }
        const QByteArray typeAndData = file.mid(at + 4, 4 + int(length));
        const quint32 storedCrc = qFromBigEndian<quint32>(file.constData() + at + 8 + length);
        if (crc32(typeAndData) != storedCrc) {
            *problem = QStringLiteral("bad CRC in chunk %1").arg(QString(typeAndData.left(4)));
            return std::nullopt;
        }
        chunks.append({typeAndData.left(4), typeAndData.mid(4)});
        at += 12 + int(length);
    }
    if (chunks.isEmpty() || chunks.first().type != "IHDR" || chunks.last().type != "IEND") {
        *problem = QStringLiteral("IHDR not first or IEND not last");
        return std::nullopt;
    }
    return chunks;
}

// Inflates a zlib stream that may hold stored blocks only; nothing when it holds anything
// else (a compressed block, a preset dictionary, a wrong checksum).
std::optional<QByteArray> inflateStoredOnly(const QByteArray &stream, QString *problem) {
    if (stream.size() < 6) {
        *problem = QStringLiteral("zlib stream too short");
        return std::nullopt;
    }
    const auto cmf = std::uint8_t(stream[0]), flg = std::uint8_t(stream[1]);
    if ((cmf & 0x0F) != 8 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20)) {
        *problem = QStringLiteral("bad zlib header %1 %2").arg(cmf, 0, 16).arg(flg, 0, 16);
        return std::nullopt;
    }
    QByteArray output;
    int at = 2;
    for (bool last = false; !last;) {
        if (at + 5 > stream.size()) {
            *problem = QStringLiteral("deflate block header past the end");
            return std::nullopt;
        }
        // After a stored block the stream is byte aligned, so every header starts a byte.
        const auto header = std::uint8_t(stream[at]);
        last = header & 1;
        if (((header >> 1) & 3) != 0) {
            *problem = QStringLiteral("compressed deflate block (type %1)").arg((header >> 1) & 3);
            return std::nullopt;
        }
        const quint16 length = qFromLittleEndian<quint16>(stream.constData() + at + 1);
        const quint16 inverse = qFromLittleEndian<quint16>(stream.constData() + at + 3);
        if (quint16(length ^ inverse) != 0xFFFF || at + 5 + length > stream.size()) {
            *problem = QStringLiteral("bad stored block length");
            return std::nullopt;
        }
        output += stream.mid(at + 5, length);
        at += 5 + length;
    }
    if (at + 4 != stream.size() ||
        qFromBigEndian<quint32>(stream.constData() + at) != adler32(output)) {
        *problem = QStringLiteral("bad Adler-32 or trailing bytes");
        return std::nullopt;
    }
    return output;
}

// Runs of visible pixels across the drawing, on the line perpendicular to the main diagonal at
// distance along from the centre (positive: towards the upper right).
int runsAcrossDiagonal(const QImage &image, double along) {
    const double centre = (kIconSize - 1) / 2.0;
    const double half = std::sqrt(0.5);
    int runs = 0;
    bool inside = false;
    for (double across = -kIconSize; across <= kIconSize; across += 0.5) {
        const int x = int(std::lround(centre + (along + across) * half));
        const int y = int(std::lround(centre + (across - along) * half));
        const bool visible = image.rect().contains(x, y) && qAlpha(image.pixel(x, y)) >= 128;
        if (visible && !inside)
            ++runs;
        inside = visible;
    }
    return runs;
}

}  // namespace

class IconTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void pngHeaderSaysRgba8NotInterlaced();
    void imageDataIsStoredUncompressed();
    void visiblePixelsHaveTheIconColour();
    void cornersAreTransparent_data();
    void cornersAreTransparent();
    void plugLiesDiagonallyPinsUpperRight();
    void windowCarriesTheIcon();

private:
    QByteArray file;
    QList<Chunk> chunks;
    QImage image;
};

void IconTest::initTestCase() {
    // No Q_INIT_RESOURCE here: the bundle registers itself before main.
    QFile resource(kIconPath);
    QVERIFY2(resource.open(QIODevice::ReadOnly), qPrintable(resource.errorString()));
    file = resource.readAll();
    QString problem;
    const std::optional<QList<Chunk>> parsed = readChunks(file, &problem);
    QVERIFY2(parsed, qPrintable(problem));
    chunks = *parsed;
    QVERIFY(image.load(kIconPath));
    image = image.convertToFormat(QImage::Format_ARGB32);
}

void IconTest::pngHeaderSaysRgba8NotInterlaced() {
    const QByteArray header = chunks.first().data;
    QCOMPARE(header.size(), 13);
    QCOMPARE(qFromBigEndian<quint32>(header.constData()), quint32(kIconSize));
    QCOMPARE(qFromBigEndian<quint32>(header.constData() + 4), quint32(kIconSize));
    QCOMPARE(int(std::uint8_t(header[8])), 8);   // bit depth
    QCOMPARE(int(std::uint8_t(header[9])), 6);   // colour type: RGB with alpha
    QCOMPARE(int(std::uint8_t(header[10])), 0);  // deflate
    QCOMPARE(int(std::uint8_t(header[11])), 0);  // adaptive filtering
    QCOMPARE(int(std::uint8_t(header[12])), 0);  // not interlaced
    QCOMPARE(image.size(), QSize(kIconSize, kIconSize));
    QVERIFY(image.hasAlphaChannel());
}

void IconTest::imageDataIsStoredUncompressed() {
    QByteArray stream;
    int idatChunks = 0;
    for (const Chunk &chunk : chunks) {
        QVERIFY2(chunk.type != "PLTE", "a palette in an RGBA image");
        if (chunk.type == "IDAT") {
            stream += chunk.data;
            ++idatChunks;
        }
    }
    QVERIFY(idatChunks > 0);
    QString problem;
    const std::optional<QByteArray> rows = inflateStoredOnly(stream, &problem);
    QVERIFY2(rows, qPrintable(problem));
    // Each row: one filter byte, then four bytes a pixel.
    QCOMPARE(rows->size(), kIconSize * (1 + 4 * kIconSize));
    for (int row = 0; row < kIconSize; ++row)
        QVERIFY(std::uint8_t(rows->at(row * (1 + 4 * kIconSize))) <= 4);
}

void IconTest::visiblePixelsHaveTheIconColour() {
    int visible = 0, transparent = 0;
    for (int y = 0; y < kIconSize; ++y) {
        for (int x = 0; x < kIconSize; ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0)
                ++transparent;
            if (qAlpha(pixel) < kOpaqueEnough)
                continue;
            ++visible;
            if ((pixel & 0xFFFFFF) != kIconColour)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is #%3")
                                     .arg(x)
                                     .arg(y)
                                     .arg(pixel & 0xFFFFFF, 6, 16, QLatin1Char('0'))));
        }
    }
    // A drawing, not an empty or filled square.
    QVERIFY2(visible > kIconSize * kIconSize / 8, qPrintable(QString::number(visible)));
    QVERIFY2(transparent > kIconSize * kIconSize / 3, qPrintable(QString::number(transparent)));
}

void IconTest::cornersAreTransparent_data() {
    QTest::addColumn<QRect>("corner");
    const int edge = 12;
    QTest::newRow("upper left") << QRect(0, 0, edge, edge);
    QTest::newRow("upper right") << QRect(kIconSize - edge, 0, edge, edge);
    QTest::newRow("lower left") << QRect(0, kIconSize - edge, edge, edge);
    QTest::newRow("lower right") << QRect(kIconSize - edge, kIconSize - edge, edge, edge);
}

void IconTest::cornersAreTransparent() {
    QFETCH(QRect, corner);
    for (int y = corner.top(); y <= corner.bottom(); ++y)
        for (int x = corner.left(); x <= corner.right(); ++x)
            QVERIFY2(qAlpha(image.pixel(x, y)) == 0,
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
}

void IconTest::plugLiesDiagonallyPinsUpperRight() {
    // Extent of the drawing along the diagonal from lower left to upper right.
    const double centre = (kIconSize - 1) / 2.0;
    const double half = std::sqrt(0.5);
    double lowest = kIconSize, highest = -kIconSize, widest = 0;
    for (int y = 0; y < kIconSize; ++y) {
        for (int x = 0; x < kIconSize; ++x) {
            if (qAlpha(image.pixel(x, y)) < 128)
                continue;
            const double along = ((x - centre) - (y - centre)) * half;
            const double across = ((x - centre) + (y - centre)) * half;
            lowest = std::min(lowest, along);
            highest = std::max(highest, along);
            widest = std::max(widest, std::abs(across));
        }
    }
    // Long along the diagonal, narrow across it.
    QVERIFY2(highest - lowest > 2.5 * widest,
             qPrintable(QStringLiteral("%1 long, %2 wide").arg(highest - lowest).arg(widest)));

    // Near the upper-right end the two pins, near the lower-left end the one cable.
    const double span = highest - lowest;
    QCOMPARE(runsAcrossDiagonal(image, highest - 0.15 * span), 2);
    QCOMPARE(runsAcrossDiagonal(image, lowest + 0.15 * span), 1);
}

void IconTest::windowCarriesTheIcon() {
    QImage fromWindow;
    {
        MainWindow window;
        const QIcon icon = window.windowIcon();
        QCOMPARE(icon.availableSizes(QIcon::Normal, QIcon::Off),
                 QList<QSize>{QSize(kIconSize, kIconSize)});
        QVERIFY(icon.availableSizes(QIcon::Normal, QIcon::On).isEmpty());
        QVERIFY(icon.availableSizes(QIcon::Disabled, QIcon::Off).isEmpty());
        QVERIFY(icon.availableSizes(QIcon::Active, QIcon::Off).isEmpty());
        // Pixmaps hold premultiplied pixels: compare in that form.
        fromWindow = icon.pixmap(kIconSize, kIconSize)
                         .toImage()
                         .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QTest::ignoreMessage(QtDebugMsg, "ThreadFromQThread delete");
        QTest::ignoreMessage(QtDebugMsg, "time delete");
    }
    QCOMPARE(fromWindow, image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

QTEST_MAIN(IconTest)
#include "tst_icon.moc"
