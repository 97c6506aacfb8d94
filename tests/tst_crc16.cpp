#include <QtTest>

#include <cstdint>
#include <random>
#include <vector>

#include "rtu/crc16.h"

namespace {

const std::uint8_t *bytesOf(const QByteArray &bytes) {
    return reinterpret_cast<const std::uint8_t *>(bytes.constData());
}

QByteArray withCrcAppended(const QByteArray &body) {
    const std::uint16_t crc = crc16Bitwise(bytesOf(body), std::uint16_t(body.size()));
    QByteArray frame = body;
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

}  // namespace

class TestCrc16 : public QObject {
    Q_OBJECT

private slots:
    void knownValues_data();
    void knownValues();
    void emptyInputLeavesPreset();
    void formsAgreeOnRandomInput();
    void frameCheck_data();
    void frameCheck();
    void everySingleByteChangeIsDetected();
};

void TestCrc16::knownValues_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("expected");

    QTest::newRow("check value of 123456789") << QByteArray("123456789") << 0x4B37;
    // The last two bytes of each frame are its CRC, low byte first.
    QTest::newRow("scan request FA 03 00 64 00 01")
        << QByteArray::fromHex("FA0300640001") << 0x5ED0;
    QTest::newRow("read request 01 03 00 00 00 01")
        << QByteArray::fromHex("010300000001") << 0x0A84;
    QTest::newRow("read reply 01 03 02 00 0A") << QByteArray::fromHex("010302000A") << 0x4338;
    QTest::newRow("write request 01 06 00 64 00 0A")
        << QByteArray::fromHex("01060064000A") << 0x1248;
}

void TestCrc16::knownValues() {
    QFETCH(QByteArray, input);
    QFETCH(int, expected);
    const auto length = std::uint16_t(input.size());

    QCOMPARE(int(crc16Bitwise(bytesOf(input), length)), expected);
    QCOMPARE(int(crc16ByteTable(bytesOf(input), length)), expected);
    QCOMPARE(int(crc16NibbleTable(bytesOf(input), length)), expected);
}

void TestCrc16::emptyInputLeavesPreset() {
    const std::uint8_t unused = 0x55;
    QCOMPARE(int(crc16ByteTable(&unused, 0)), 0xFFFF);
    QCOMPARE(int(crc16NibbleTable(&unused, 0)), 0xFFFF);
}

void TestCrc16::formsAgreeOnRandomInput() {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::vector<std::uint8_t> input;
    for (int length = 1; length <= 600; ++length) {
        for (int sample = 0; sample < 4; ++sample) {
            input.resize(std::size_t(length));
            for (std::uint8_t &byte : input)
                byte = std::uint8_t(byteValue(random));
            const std::uint16_t reference = crc16Bitwise(input.data(), std::uint16_t(length));
            if (crc16ByteTable(input.data(), std::uint16_t(length)) != reference ||
                crc16NibbleTable(input.data(), std::uint16_t(length)) != reference)
                QFAIL(qPrintable(QStringLiteral("forms disagree at length %1").arg(length)));
        }
    }
}

void TestCrc16::frameCheck_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("accepted");

    const QByteArray reply = QByteArray::fromHex("010302000A3843");
    QTest::newRow("read reply") << reply << true;
    QTest::newRow("write echo") << QByteArray::fromHex("01060064000A4812") << true;
    QTest::newRow("scan request") << QByteArray::fromHex("FA0300640001D05E") << true;
    QTest::newRow("last byte changed") << QByteArray::fromHex("010302000A3842") << false;
    QTest::newRow("CRC bytes swapped") << QByteArray::fromHex("010302000A4338") << false;
    QTest::newRow("one stray byte before") << QByteArray::fromHex("00010302000A3843") << false;
    QTest::newRow("one stray byte after") << QByteArray::fromHex("010302000A384355") << false;
    // Feeding a frame's own CRC low byte leaves 00 in the register's high byte, so a frame
    // followed by one 00 still checks. The data before it is intact.
    QTest::newRow("zero byte after still checks")
        << QByteArray::fromHex("010302000A384300") << true;
    QTest::newRow("two replies joined") << reply + reply << false;
    // Four bytes are tested: a CRC over two bytes.
    QTest::newRow("4 bytes, CRC matches") << withCrcAppended(QByteArray::fromHex("0103")) << true;
    QTest::newRow("4 bytes, CRC wrong") << QByteArray::fromHex("01030000") << false;
    // Three bytes are rejected untested, even when they would pass.
    QTest::newRow("3 bytes that would pass") << withCrcAppended(QByteArray::fromHex("01")) << false;
    QTest::newRow("2 bytes") << QByteArray::fromHex("FFFF") << false;
    QTest::newRow("empty") << QByteArray() << false;
    // A 16-bit length would wrap to 2 and check only "01 03" against the last two bytes.
    const QByteArray wrapped = withCrcAppended(QByteArray::fromHex("0103"));
    QTest::newRow("longer than a 16-bit length")
        << wrapped.left(2) + QByteArray(0x10000, '\x55') + wrapped.right(2) << false;
}

void TestCrc16::frameCheck() {
    QFETCH(QByteArray, frame);
    QFETCH(bool, accepted);
    QCOMPARE(frameCrcMatches(bytesOf(frame), std::size_t(frame.size())), accepted);
}

void TestCrc16::everySingleByteChangeIsDetected() {
    const QByteArray reply = QByteArray::fromHex("010302000A3843");
    for (int position = 0; position < reply.size(); ++position) {
        for (int flip = 1; flip < 256; ++flip) {
            QByteArray changed = reply;
            changed[position] = char(changed[position] ^ flip);
            if (frameCrcMatches(bytesOf(changed), std::size_t(changed.size())))
                QFAIL(qPrintable(QStringLiteral("byte %1 xor %2 passed").arg(position).arg(flip)));
        }
    }
}

QTEST_APPLESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
