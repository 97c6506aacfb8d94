#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "rtu/rtumaster.h"
#include "sim/simulatedsensor.h"
#include "support/busfixture.h"
#include "transport/serial.h"

Q_DECLARE_METATYPE(FaultSpec)

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t kUntouched = 0xEE;
constexpr int kSensorAddress = 1;
constexpr int kValueRegister = 100;
// How late a wait may end on a loaded machine.
constexpr int kSchedulingSlackMs = 10;

// The simulated sensor behind a real port object, wired as the program wires it.
struct Bench {
    SimulatedSensor sensor;
    Serial serial;
    RtuMaster master{serial};

    bool open(int replyWaitMs) {
        QString error;
        if (!sensor.openPty(&error)) {
            qWarning("simulated sensor: %s", qPrintable(error));
            return false;
        }
        sensor.model().setRegister(kValueRegister, 0x000A);
        wireReadyRead(serial);
        if (!serial.openPort(sensor.portPath(), 9600))
            return false;
        serial.isOpen = true;
        serial.replyWaitMs = std::uint8_t(replyWaitMs);
        return true;
    }
};

struct ReadOutcome {
    int result = -1;
    std::uint8_t data[255];
    std::uint8_t byteCount = kUntouched;
    ReadOutcome() { std::memset(data, kUntouched, sizeof data); }

    QByteArray delivered() const {
        return QByteArray(reinterpret_cast<const char *>(data), byteCount);
    }
    bool untouchedFrom(int offset) const {
        for (int i = offset; i < int(sizeof data); ++i) {
            if (data[i] != kUntouched)
                return false;
        }
        return true;
    }
};

const std::uint8_t *bytesOf(const QByteArray &bytes) {
    return reinterpret_cast<const std::uint8_t *>(bytes.constData());
}

}  // namespace

class TestRtuMaster : public QObject {
    Q_OBJECT

private slots:
    void requestBytes_data();
    void requestBytes();
    void transaction_data();
    void transaction();
    void fullWaitAfterTheRequestIsOnTheWire_data();
    void fullWaitAfterTheRequestIsOnTheWire();
    void failedReadsKeepTheLastReplyAddress();
    void lateReplyInsideTheGuardIsNotCreditedToALaterRequest_data();
    void lateReplyInsideTheGuardIsNotCreditedToALaterRequest();
    void abortEndsTheCurrentAndEveryLaterWait();
    void invalidArgumentsSendNothing_data();
    void invalidArgumentsSendNothing();
};

void TestRtuMaster::requestBytes_data() {
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("registerNumber");
    QTest::addColumn<QByteArray>("writeData");
    QTest::addColumn<QByteArray>("expectedFrame");

    QTest::newRow("scan: register 100 at 250")
        << false << 250 << 100 << QByteArray() << QByteArray::fromHex("FA0300640001D05E");
    QTest::newRow("register 0 at 1")
        << false << 1 << 0 << QByteArray() << QByteArray::fromHex("010300000001840A");
    QTest::newRow("only the low bits of address and register")
        << false << 0x1FF << 0x12345 << QByteArray() << QByteArray::fromHex("FF03234500018B85");
    QTest::newRow("write 10 to register 100 at 1")
        << true << 1 << 100 << QByteArray::fromHex("000A")
        << QByteArray::fromHex("01060064000A4812");
    QTest::newRow("write of four data bytes") << true << 1 << 100 << QByteArray::fromHex("00010203")
                                              << QByteArray::fromHex("010600640001020386AE");
}

void TestRtuMaster::requestBytes() {
    QFETCH(bool, write);
    QFETCH(int, slave);
    QFETCH(int, registerNumber);
    QFETCH(QByteArray, writeData);
    QFETCH(QByteArray, expectedFrame);

    PtyPeer peer;
    Serial serial;
    wireReadyRead(serial);
    QVERIFY(peer.isValid());
    QVERIFY(serial.openPort(peer.slavePath(), 9600));
    serial.replyWaitMs = 10;
    RtuMaster master(serial);

    ReadOutcome outcome;
    QVERIFY(runOnWorker([&] {
        outcome.result =
            write
                ? master.writeRegister(slave, registerNumber, bytesOf(writeData), writeData.size())
                : master.readRegisters(slave, registerNumber, 1, outcome.data, &outcome.byteCount);
    }));

    QCOMPARE(outcome.result, 0);
    QCOMPARE(peer.read(expectedFrame.size() + 1, 200), expectedFrame);
    QCOMPARE(serial.lastSent(), expectedFrame);
}

void TestRtuMaster::transaction_data() {
    QTest::addColumn<bool>("write");
    QTest::addColumn<QByteArray>("writeData");
    QTest::addColumn<FaultSpec>("fault");
    QTest::addColumn<int>("expectedResult");
    QTest::addColumn<QByteArray>("expectedData");
    QTest::addColumn<int>("expectedReplyAddress");

    const QByteArray ten = QByteArray::fromHex("000A");
    const QByteArray none;
    const auto read = [&](const char *name, const FaultSpec &fault, int result,
                          const QByteArray &data = QByteArray(), int replyAddress = -1) {
        QTest::newRow(name) << false << none << fault << result << data << replyAddress;
    };
    const auto write = [&](const char *name, const FaultSpec &fault, int result,
                           const QByteArray &data = QByteArray::fromHex("000A")) {
        QTest::newRow(name) << true << data << fault << result << none << -1;
    };

    read("read: reply accepted", FaultSpec::of(Fault::None), 1, ten, kSensorAddress);
    read("read: no reply", FaultSpec::of(Fault::NoReply), 0);
    read("read: bad CRC", FaultSpec::of(Fault::BadCrc), 0);
    read("read: last byte changed", FaultSpec::raw(QByteArray::fromHex("010302000A3842")), 0);
    read("read: data byte changed", FaultSpec::raw(QByteArray::fromHex("010302000B3843")), 0);
    read("read: CRC bytes swapped", FaultSpec::raw(QByteArray::fromHex("010302000A4338")), 0);
    read("read: 3-byte reply", FaultSpec::truncated(3), 0);
    read("read: 3 bytes that would pass the CRC", FaultSpec::raw(QByteArray::fromHex("017E80")), 0);
    read("read: 4-byte reply", FaultSpec::truncated(4), 0);
    // Passes its CRC, but holds none of the two data bytes its byte count claims.
    read("read: 4 bytes passing the CRC", FaultSpec::raw(QByteArray::fromHex("01034021")), 0);
    read("read: reply split in two chunks", FaultSpec::split(3, 30), 1, ten, kSensorAddress);
    read("read: late reply", FaultSpec::late(400), 0);
    read("read: two replies in one write", FaultSpec::doubled(0), 0);
    read("read: two replies 20 ms apart", FaultSpec::doubled(20), 0);
    read("read: stray byte before", FaultSpec::extraBefore(QByteArray::fromHex("00")), 0);
    read("read: stray byte after", FaultSpec::extraAfter(QByteArray::fromHex("55")), 0);
    // The CRC arithmetic lets one trailing 00 through; the data before it is intact.
    read("read: zero byte after", FaultSpec::extraAfter(QByteArray::fromHex("00")), 1, ten);
    read("read: reply from another address", FaultSpec::otherAddressReply(7), 1, ten, 7);
    // 01 83 02 C0 F1: would otherwise be read as a value 0xC0F1 taken from its own CRC.
    read("read: exception reply", FaultSpec::exception(0x02), 0);
    read("read: exception reply, code 4", FaultSpec::exception(0x04), 0);
    read("read: exception reply, raw", FaultSpec::raw(QByteArray::fromHex("018302C0F1")), 0);
    read("read: byte count larger than the frame", FaultSpec::of(Fault::OverlongByteCount), 0);
    read("read: byte count 1 larger than the frame",
         FaultSpec::raw(QByteArray::fromHex("010303000A6983")), 0);
    read("read: two registers", FaultSpec::raw(QByteArray::fromHex("010304000A000B9BF6")), 1,
         QByteArray::fromHex("000A000B"));
    read("read: no data bytes", FaultSpec::raw(QByteArray::fromHex("01030020F0")), 1, QByteArray());

    write("write: echo accepted", FaultSpec::of(Fault::None), 1);
    write("write: no reply", FaultSpec::of(Fault::NoReply), 0);
    write("write: echo with other data", FaultSpec::of(Fault::WrongEcho), 0);
    write("write: bad CRC", FaultSpec::of(Fault::BadCrc), 0);
    write("write: exception reply", FaultSpec::exception(0x03), 0);
    write("write: echo split in two chunks", FaultSpec::split(4, 30), 1);
    write("write: late echo", FaultSpec::late(400), 0);
    write("write: echo from another address", FaultSpec::otherAddressReply(9), 1);
    write("write: two echoes", FaultSpec::doubled(0), 0);
    // 01 06 00 64 E0 32 passes its CRC, and its CRC bytes equal the data sent: a check that
    // read past the 6 bytes received would take it for the echo.
    write("write: echo shorter than 6 + L", FaultSpec::raw(QByteArray::fromHex("01060064E032")), 0,
          QByteArray::fromHex("E032"));
}

void TestRtuMaster::transaction() {
    QFETCH(bool, write);
    QFETCH(QByteArray, writeData);
    QFETCH(FaultSpec, fault);
    QFETCH(int, expectedResult);
    QFETCH(QByteArray, expectedData);
    QFETCH(int, expectedReplyAddress);

    Bench bench;
    QVERIFY(bench.open(100));
    bench.sensor.queueFault(fault);

    ReadOutcome outcome;
    QVERIFY(runOnWorker([&] {
        outcome.result = write ? bench.master.writeRegister(kSensorAddress, kValueRegister,
                                                            bytesOf(writeData), writeData.size())
                               : bench.master.readRegisters(kSensorAddress, kValueRegister, 1,
                                                            outcome.data, &outcome.byteCount);
    }));

    QCOMPARE(outcome.result, expectedResult);
    QVERIFY(bench.sensor.waitForExchanges(1, 1000));
    if (write)
        return;
    if (expectedResult == 1) {
        QCOMPARE(outcome.delivered(), expectedData);
        QVERIFY(outcome.untouchedFrom(expectedData.size()));
    } else {
        QCOMPARE(int(outcome.byteCount), int(kUntouched));
        QVERIFY(outcome.untouchedFrom(0));
    }
    if (expectedReplyAddress >= 0)
        QCOMPARE(int(bench.master.replyAddress()), expectedReplyAddress);
}

void TestRtuMaster::fullWaitAfterTheRequestIsOnTheWire_data() {
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<int>("ownerBusyMs");

    QTest::newRow("read, owner idle") << false << 150 << 0;
    QTest::newRow("write, owner idle") << true << RtuMaster::kWriteReplyWaitMs << 0;
    QTest::newRow("read, owner busy") << false << 200 << 300;
    QTest::newRow("write, owner busy") << true << RtuMaster::kWriteReplyWaitMs << 300;
}

void TestRtuMaster::fullWaitAfterTheRequestIsOnTheWire() {
    QFETCH(bool, write);
    QFETCH(int, waitMs);
    QFETCH(int, ownerBusyMs);
    const auto wait = std::chrono::milliseconds(waitMs);

    Bench bench;
    QVERIFY(bench.open(write ? 100 : waitMs));
    const std::uint8_t value[] = {0x00, 0x0A};

    // A busy owner thread takes the hand-off late. If the wait began before the request was
    // written, most of it would pass before the sensor even saw the request.
    if (ownerBusyMs > 0) {
        QTimer::singleShot(0, [ownerBusyMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ownerBusyMs));
        });
    }
    ReadOutcome outcome;
    Clock::time_point started;
    Clock::time_point finished;
    QVERIFY(runOnWorker([&] {
        started = Clock::now();
        outcome.result = write
                             ? bench.master.writeRegister(kSensorAddress, kValueRegister, value, 2)
                             : bench.master.readRegisters(kSensorAddress, kValueRegister, 1,
                                                          outcome.data, &outcome.byteCount);
        finished = Clock::now();
    }));

    // The sensor answered at once, yet the full wait passed.
    QCOMPARE(outcome.result, 1);
    QVERIFY(finished - started >= wait);
    const std::vector<Exchange> exchanges = bench.sensor.exchanges();
    QCOMPARE(exchanges.size(), std::size_t(1));
    // 100 ms for the sensor's thread to notice the request; a wait that started before the
    // request was written would leave about wait - ownerBusyMs here.
    const auto afterRequest = finished - exchanges.front().receivedAt;
    QVERIFY2(afterRequest >= wait - 100ms,
             qPrintable(QString::number(
                 std::chrono::duration_cast<std::chrono::milliseconds>(afterRequest).count())));
}

void TestRtuMaster::failedReadsKeepTheLastReplyAddress() {
    Bench bench;
    QVERIFY(bench.open(60));
    bench.sensor.queueFault(FaultSpec::otherAddressReply(7));
    bench.sensor.queueFault(FaultSpec::exception(0x02));
    bench.sensor.queueFault(FaultSpec::of(Fault::BadCrc));
    bench.sensor.queueFault(FaultSpec::of(Fault::OverlongByteCount));
    bench.sensor.queueFault(FaultSpec::of(Fault::None));

    std::vector<std::pair<int, int>> resultAndAddress;
    QVERIFY(runOnWorker([&] {
        for (int i = 0; i < 5; ++i) {
            ReadOutcome outcome;
            const int result = bench.master.readRegisters(kSensorAddress, kValueRegister, 1,
                                                          outcome.data, &outcome.byteCount);
            resultAndAddress.emplace_back(result, bench.master.replyAddress());
        }
    }));

    const std::vector<std::pair<int, int>> expected{{1, 7}, {0, 7}, {0, 7}, {0, 7}, {1, 1}};
    QCOMPARE(resultAndAddress, expected);
}

void TestRtuMaster::lateReplyInsideTheGuardIsNotCreditedToALaterRequest_data() {
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<int>("firstLateMs");  // only the first reply comes this late
    QTest::addColumn<int>("everyLateMs");  // every reply comes this late (adapter latency)
    QTest::addColumn<int>("ownerBusyFromMs");
    QTest::addColumn<int>("ownerBusyMs");

    // From just past one fixed wait up to 100 ms, or two fixed waits where that is longer.
    for (const int late : {16, 30, 40, 80, 100})
        QTest::addRow("115200 baud, first reply %d ms late", late) << 15 << late << 0 << 0 << 0;
    for (const int late : {71, 100, 140})
        QTest::addRow("9600 baud, first reply %d ms late", late) << 70 << late << 0 << 0 << 0;
    for (const int late : {16, 40, 80})
        QTest::addRow("115200 baud, every reply %d ms late", late) << 15 << 0 << late << 0 << 0;
    QTest::addRow("9600 baud, every reply 100 ms late") << 70 << 0 << 100 << 0 << 0;
    // The owner thread is away while the late reply comes and while the line would be judged
    // quiet: the reply waits in the OS when the next request is handed over.
    QTest::addRow("115200 baud, first reply 90 ms late, owner busy") << 15 << 90 << 0 << 60 << 80;
}

void TestRtuMaster::lateReplyInsideTheGuardIsNotCreditedToALaterRequest() {
    QFETCH(int, waitMs);
    QFETCH(int, firstLateMs);
    QFETCH(int, everyLateMs);
    QFETCH(int, ownerBusyFromMs);
    QFETCH(int, ownerBusyMs);

    Bench bench;
    QVERIFY(bench.open(waitMs));
    // A distinct value in each register, so that a value read under another shows.
    const int registers[] = {100, 101, 104, 105, 106};
    for (const int reg : registers)
        bench.sensor.model().setRegister(reg, std::uint16_t(0x1000 + reg));
    if (firstLateMs > 0)
        bench.sensor.queueFault(FaultSpec::late(firstLateMs));
    bench.sensor.setReplyDelay(everyLateMs);

    if (ownerBusyMs > 0) {
        QTimer::singleShot(ownerBusyFromMs, [ownerBusyMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ownerBusyMs));
        });
    }
    std::vector<int> results;
    std::vector<int> values;
    QVERIFY(runOnWorker([&] {
        for (const int reg : registers) {
            ReadOutcome outcome;
            results.push_back(bench.master.readRegisters(kSensorAddress, reg, 1, outcome.data,
                                                         &outcome.byteCount));
            values.push_back(outcome.data[0] << 8 | outcome.data[1]);
        }
    }));

    for (std::size_t i = 0; i < results.size(); ++i) {
        if (results[i] == 1)
            QCOMPARE(values[i], 0x1000 + registers[i]);
    }
    // A reply only just past its wait still lands inside it when this machine runs the wait a
    // little late (a loaded machine, a sanitizer); it is then its own request's answer, which
    // the values above check.
    const bool missedItsWait = results.front() == 0;
    if (std::max(firstLateMs, everyLateMs) >= waitMs + kSchedulingSlackMs)
        QVERIFY(missedItsWait);
    QVERIFY(bench.sensor.waitForExchanges(5, 2000));
    if (firstLateMs > 0 && missedItsWait) {
        // The next request waited for the late reply to pass, and the line was clean again.
        const std::vector<Exchange> exchanges = bench.sensor.exchanges();
        const auto quietBefore = exchanges[1].receivedAt - *exchanges[0].lastSentAt();
        QVERIFY2(quietBefore >= std::chrono::milliseconds(RtuMaster::kMinRecoveryQuietMs - 10),
                 qPrintable(QString::number(
                     std::chrono::duration_cast<std::chrono::milliseconds>(quietBefore).count())));
        QCOMPARE(results, (std::vector<int>{0, 1, 1, 1, 1}));
    }

    // Once the replies are on time again, reads succeed.
    bench.sensor.setReplyDelay(0);
    int result = -1;
    ReadOutcome outcome;
    QVERIFY(runOnWorker([&] {
        result =
            bench.master.readRegisters(kSensorAddress, 100, 1, outcome.data, &outcome.byteCount);
    }));
    QCOMPARE(result, 1);
    QCOMPARE(outcome.data[0] << 8 | outcome.data[1], 0x1064);
}

void TestRtuMaster::abortEndsTheCurrentAndEveryLaterWait() {
    Bench bench;
    QVERIFY(bench.open(250));
    bench.sensor.setFaultRate(FaultSpec::of(Fault::NoReply), 1.0);
    const std::uint8_t value[] = {0x00, 0x0A};

    // Ten writes and ten reads would wait 4.5 s in all.
    QTimer::singleShot(50, [&] { bench.master.abortWaits(); });
    int succeeded = 0;
    const auto started = Clock::now();
    QVERIFY(runOnWorker([&] {
        for (int i = 0; i < 10; ++i) {
            ReadOutcome outcome;
            succeeded += bench.master.writeRegister(kSensorAddress, kValueRegister, value, 2);
            succeeded += bench.master.readRegisters(kSensorAddress, kValueRegister, 1, outcome.data,
                                                    &outcome.byteCount);
        }
    }));
    const auto elapsed = Clock::now() - started;

    QCOMPARE(succeeded, 0);
    QVERIFY2(elapsed < 2s,
             qPrintable(QString::number(
                 std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count())));
    // The requests still went out: only the waits were cut.
    QVERIFY(bench.sensor.waitForExchanges(20, 2000));
}

void TestRtuMaster::invalidArgumentsSendNothing_data() {
    QTest::addColumn<QString>("call");
    QTest::newRow("read without a data buffer") << "read-null-data";
    QTest::newRow("read without a byte-count slot") << "read-null-count";
    QTest::newRow("write of no data") << "write-0";
    QTest::newRow("write of 601 bytes") << "write-601";
    QTest::newRow("write from a null pointer") << "write-null";
}

void TestRtuMaster::invalidArgumentsSendNothing() {
    QFETCH(QString, call);

    PtyPeer peer;
    Serial serial;
    wireReadyRead(serial);
    QVERIFY(serial.openPort(peer.slavePath(), 9600));
    serial.replyWaitMs = 10;
    RtuMaster master(serial);

    std::vector<std::uint8_t> data(601, 0x01);
    std::uint8_t byteCount = 0;
    int result = -1;
    QVERIFY(runOnWorker([&] {
        if (call == "read-null-data")
            result = master.readRegisters(1, 100, 1, nullptr, &byteCount);
        else if (call == "read-null-count")
            result = master.readRegisters(1, 100, 1, data.data(), nullptr);
        else if (call == "write-0")
            result = master.writeRegister(1, 100, data.data(), 0);
        else if (call == "write-601")
            result = master.writeRegister(1, 100, data.data(), 601);
        else if (call == "write-null")
            result = master.writeRegister(1, 100, nullptr, 2);
    }));

    QCOMPARE(result, 0);
    QCOMPARE(peer.read(1, 50), QByteArray());
}

QTEST_GUILESS_MAIN(TestRtuMaster)
#include "tst_rtumaster.moc"
