#include "sim/simulatedsensor.h"
#include "support/sim_lineclient.h"

#include <QProcess>
#include <QSerialPort>
#include <QtTest>

#include <array>
#include <csignal>
#include <mutex>

#include <poll.h>

// Expected frames below carry CRCs worked out independently of the product's CRC code.

Q_DECLARE_METATYPE(FaultSpec)

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}

const QByteArray kReadSerial = hex("010300640001C5D5");
const QByteArray kSerialReply = hex("010302000A3843");  // register 100 = 10
const QByteArray kWriteSerial10 = hex("01060064000A4812");
const QByteArray kScan = hex("FA0300640001D05E");

// Registers with known values that stay put.
void presetFrozen(SensorModel &model, std::uint8_t address = 1) {
    model.setLiveValuesMoving(false);
    model.setAddress(address);
    model.setRegister(SensorModel::kRegSmokePpm, 10);
    model.setRegister(SensorModel::kRegTemperature, 0xFF38);  // -2.00 degrees
    model.setRegister(SensorModel::kRegHumidity, 0x1194);     // 45.00 %RH
    model.setRegister(SensorModel::kRegAlarmStatus, 0);
    model.setRegister(SensorModel::kRegSerialNumber, 10);
}

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// A simulated sensor on a pty with a raw client attached to it.
struct Bench {
    explicit Bench(std::uint32_t seed = 1) : sensor(seed) {}

    SimulatedSensor sensor;
    SimLineClient client;

    bool start(int baudRate = 9600) {
        presetFrozen(sensor.model());
        QString error;
        if (!sensor.openPty(&error, baudRate)) {
            qWarning() << error;
            return false;
        }
        return client.open(sensor.portPath());
    }

    // Sends a request and returns everything that came back: once expectedBytes arrived
    // and nothing more followed for a short while, or when timeoutMs ran out. With nothing
    // expected it always waits the whole time, so that a reply would be seen.
    QByteArray exchange(const QByteArray &request, int expectedBytes, int timeoutMs = 2000) {
        if (!client.write(request))
            return "write failed";
        QByteArray got = SimLineClient::joined(
            client.collect(timeoutMs, expectedBytes > 0 ? expectedBytes : -1));
        got += SimLineClient::joined(client.collect(30));
        return got;
    }
};

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void modelAnswersReads_data();
    void modelAnswersReads();
    void modelStoresWrites_data();
    void modelStoresWrites();
    void addressChangeMovesTheSensor();
    void liveValuesMoveWithinPlausibleRanges();
    void frozenValuesStay();
    void alarmBitAndAdFollowSmoke();

    void faultBytesOnTheWire_data();
    void faultBytesOnTheWire();
    void faultDecidesWhetherWriteIsStored_data();
    void faultDecidesWhetherWriteIsStored();
    void replyTiming_data();
    void replyTiming();
    void framesAreDelimitedBySilence_data();
    void framesAreDelimitedBySilence();
    void uploadsComeOnTheirOwnAtTheInterval();
    void queuedFaultWaitsForAnAnsweredRequest();
    void faultRateIsSeededAndRepeatable();
    void baudRateCodeChangesLineSpeedAfterEcho();
    void exchangeLogAndLoggerSeeCompleteExchanges();
    void clientMayCloseAndReopen();
    void hangUpIsSeenOnTheSerialPort();
    void hangUpIsSeenByRawClient();
    void bridgeCarriesBothWays();

    void programRejectsOrHelps_data();
    void programRejectsOrHelps();
    void programServesAndStopsOnSignal_data();
    void programServesAndStopsOnSignal();
};

void TestSimulator::modelAnswersReads_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("register 0 (smoke 10)") << 1 << hex("010300000001840A") << kSerialReply;
    QTest::newRow("register 1 negative temperature")
        << 1 << hex("010300010001D5CA") << hex("010302FF38F866");
    QTest::newRow("registers 0 to 3 in one read")
        << 1 << hex("0103000000044409") << hex("010308000AFF3811940000CECD");
    QTest::newRow("register 100") << 1 << kReadSerial << kSerialReply;
    QTest::newRow("scan answered with the own address 7") << 7 << kScan << hex("070302000AB043");
    QTest::newRow("scan answered with the own address 1") << 1 << kScan << kSerialReply;
    QTest::newRow("register 102 reads the address")
        << 1 << hex("0103006600016415") << hex("01030200017984");
    QTest::newRow("register 255") << 1 << hex("010300FF0001B43A") << hex("0103020000B844");
    QTest::newRow("register 110 does not exist")
        << 1 << hex("0103006E0001E5D7") << hex("018302C0F1");
    QTest::newRow("read over the gap at 110") << 1 << hex("0103006C0003C5D6") << hex("018302C0F1");
    QTest::newRow("read of 0 registers") << 1 << hex("01030000000045CA") << hex("0183030131");
    QTest::newRow("unknown function") << 1 << hex("01040000000131CA") << hex("01840182C0");
    QTest::newRow("another address is ignored") << 1 << hex("020300640001C5E6") << QByteArray();
    QTest::newRow("address 0 is ignored") << 1 << hex("000300640001C404") << QByteArray();
    QTest::newRow("bad CRC is ignored") << 1 << hex("010300640001C5D4") << QByteArray();
    QTest::newRow("write at the scan address is ignored")
        << 1 << hex("FA06006400051D9D") << QByteArray();
    QTest::newRow("fragment is ignored") << 1 << hex("0103") << QByteArray();
}

void TestSimulator::modelAnswersReads() {
    QFETCH(int, address);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    SensorModel model;
    presetFrozen(model, std::uint8_t(address));
    QCOMPARE(model.wouldAnswer(request), !reply.isEmpty());
    QString description;
    QCOMPARE(model.handleRequest(request, &description).toHex(' '), reply.toHex(' '));
    QVERIFY(!description.isEmpty());
    QCOMPARE(model.answeredCount(), reply.isEmpty() ? 0 : 1);
}

void TestSimulator::modelStoresWrites_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("stored");

    QTest::newRow("model code 10 echoed") << kWriteSerial10 << kWriteSerial10 << 100 << 10;
    QTest::newRow("negative temperature offset")
        << hex("0106006CFC1808DD") << hex("0106006CFC1808DD") << 108 << 0xFC18;
    QTest::newRow("device address 5")
        << hex("010600660005A9D6") << hex("010600660005A9D6") << 102 << 5;
    QTest::newRow("device address 0 refused")
        << hex("01060066000069D5") << hex("0186030261") << 102 << 1;
    QTest::newRow("device address 250 refused")
        << hex("0106006600FAE996") << hex("0186030261") << 102 << 1;
    QTest::newRow("baud-rate code 4")
        << hex("01060067000439D6") << hex("01060067000439D6") << 103 << 4;
    QTest::newRow("baud-rate code 7 refused")
        << hex("01060067000779D7") << hex("0186030261") << 103 << 3;
    QTest::newRow("live register is read-only")
        << hex("01060000000549C9") << hex("018602C3A1") << 0 << 10;
    QTest::newRow("register 110 does not exist")
        << hex("0106006E00052814") << hex("018602C3A1") << 100 << 10;
    QTest::newRow("register 255") << hex("010600FF0002383B") << hex("010600FF0002383B") << 255 << 2;
}

void TestSimulator::modelStoresWrites() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, reg);
    QFETCH(int, stored);

    SensorModel model;
    presetFrozen(model);
    QCOMPARE(model.handleRequest(request).toHex(' '), reply.toHex(' '));
    QCOMPARE(int(model.registerValue(reg).value_or(0xFFFFF)), stored);
}

void TestSimulator::addressChangeMovesTheSensor() {
    SensorModel model;
    presetFrozen(model);
    QCOMPARE(model.handleRequest(hex("010600660005A9D6")), hex("010600660005A9D6"));
    QCOMPARE(int(model.address()), 5);
    QVERIFY(model.handleRequest(kReadSerial).isEmpty());
    QCOMPARE(model.handleRequest(hex("050300640001C451")), hex("050302000AC983"));
    // The scan finds it under its new address.
    QCOMPARE(model.handleRequest(kScan), hex("050302000AC983"));
}

void TestSimulator::liveValuesMoveWithinPlausibleRanges() {
    SensorModel model(7);
    QVERIFY(model.liveValuesMoving());
    const auto read = [&] {
        return std::array<int, 3>{std::int16_t(*model.registerValue(1)),
                                  std::int16_t(*model.registerValue(2)),
                                  int(*model.registerValue(0))};
    };
    const auto first = read();
    bool changed = false;
    for (int i = 0; i < 15; ++i) {
        QTest::qWait(120);
        const auto now = read();
        changed = changed || now != first;
        QVERIFY2(now[0] > -4000 && now[0] < 12500, qPrintable(QString::number(now[0])));
        QVERIFY2(now[1] >= 0 && now[1] <= 10000, qPrintable(QString::number(now[1])));
        QVERIFY(now[2] >= 0);
    }
    QVERIFY(changed);
}

void TestSimulator::frozenValuesStay() {
    SensorModel model(7);
    presetFrozen(model);
    QTest::qWait(350);
    QCOMPARE(int(*model.registerValue(1)), 0xFF38);
    QCOMPARE(int(*model.registerValue(2)), 0x1194);
    QCOMPARE(int(*model.registerValue(0)), 10);
    QVERIFY(!model.registerValue(110));
    QVERIFY(!model.setRegister(110, 1));
}

void TestSimulator::alarmBitAndAdFollowSmoke() {
    SensorModel model;
    model.setRegister(SensorModel::kRegSmokeWarning, 300);
    model.setRegister(SensorModel::kRegSmokePpm, 500);
    QVERIFY(*model.registerValue(SensorModel::kRegAlarmStatus) & SensorModel::kAlarmSmoke);
    const int adHigh = *model.registerValue(SensorModel::kRegSmokeAd);
    model.setRegister(SensorModel::kRegSmokePpm, 0);
    QVERIFY(!(*model.registerValue(SensorModel::kRegAlarmStatus) & SensorModel::kAlarmSmoke));
    const int adLow = *model.registerValue(SensorModel::kRegSmokeAd);
    QVERIFY2(adHigh > adLow, qPrintable(QStringLiteral("%1 %2").arg(adHigh).arg(adLow)));
    // Freezing keeps what a read showed.
    model.setRegister(SensorModel::kRegSmokePpm, 400);
    const int adAtFreeze = *model.registerValue(SensorModel::kRegSmokeAd);
    model.setLiveValuesMoving(false);
    QCOMPARE(int(*model.registerValue(SensorModel::kRegSmokeAd)), adAtFreeze);
    QVERIFY(*model.registerValue(SensorModel::kRegAlarmStatus) & SensorModel::kAlarmSmoke);
}

void TestSimulator::faultBytesOnTheWire_data() {
    QTest::addColumn<FaultSpec>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("chunks");

    const QByteArray read = kReadSerial;
    const QByteArray write = kWriteSerial10;
    QTest::newRow("no fault") << FaultSpec::of(Fault::None) << read << kSerialReply << 1;
    QTest::newRow("no reply") << FaultSpec::of(Fault::NoReply) << read << QByteArray() << 0;
    QTest::newRow("bad CRC") << FaultSpec::of(Fault::BadCrc) << read << hex("010302000A38BC") << 1;
    QTest::newRow("split 3 + 4") << FaultSpec::split(3, 40) << read << kSerialReply << 2;
    QTest::newRow("split default") << FaultSpec::of(Fault::SplitReply) << read << kSerialReply << 2;
    QTest::newRow("late") << FaultSpec::late(100) << read << kSerialReply << 1;
    QTest::newRow("stray byte before, default")
        << FaultSpec::of(Fault::ExtraBytesBefore) << read << hex("00010302000A3843") << 1;
    QTest::newRow("stray bytes after")
        << FaultSpec::extraAfter(hex("55AA")) << read << hex("010302000A384355AA") << 1;
    QTest::newRow("exception 04 to a read")
        << FaultSpec::exception(4) << read << hex("01830440F3") << 1;
    QTest::newRow("exception 02 to a write")
        << FaultSpec::exception(2) << write << hex("018602C3A1") << 1;
    QTest::newRow("wrong echo") << FaultSpec::of(Fault::WrongEcho) << write
                                << hex("01060064000B89D2") << 1;
    QTest::newRow("wrong value in a read")
        << FaultSpec::of(Fault::WrongEcho) << read << hex("010302000BF983") << 1;
    QTest::newRow("double in one write")
        << FaultSpec::doubled(0) << read << kSerialReply + kSerialReply << 1;
    QTest::newRow("double 30 ms apart")
        << FaultSpec::doubled(30) << read << kSerialReply + kSerialReply << 2;
    QTest::newRow("truncated to 3") << FaultSpec::truncated(3) << read << hex("010302") << 1;
    QTest::newRow("truncated default")
        << FaultSpec::of(Fault::TruncatedReply) << read << hex("01030200") << 1;
    QTest::newRow("overlong byte count")
        << FaultSpec::of(Fault::OverlongByteCount) << read << hex("010306000A7982") << 1;
    QTest::newRow("other address, read")
        << FaultSpec::otherAddressReply(9) << read << hex("090302000AD982") << 1;
    QTest::newRow("other address, write")
        << FaultSpec::otherAddressReply(9) << write << hex("09060064000A495A") << 1;
    QTest::newRow("raw: CRC bytes swapped")
        << FaultSpec::raw(hex("010302000A4338")) << read << hex("010302000A4338") << 1;
    QTest::newRow("raw: nothing") << FaultSpec::raw({}) << read << QByteArray() << 0;
}

void TestSimulator::faultBytesOnTheWire() {
    QFETCH(FaultSpec, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    QFETCH(int, chunks);

    Bench bench;
    QVERIFY(bench.start());
    bench.sensor.queueFault(fault);
    const QByteArray got =
        bench.exchange(request, expected.size(), expected.isEmpty() ? 200 : 2000);
    QCOMPARE(got.toHex(' '), expected.toHex(' '));

    QVERIFY(bench.sensor.waitForExchanges(1, 2000));
    const auto log = bench.sensor.exchanges();
    QCOMPARE(int(log.size()), 1);
    QCOMPARE(log[0].request, request);
    QCOMPARE(log[0].fault, fault.kind);
    QCOMPARE(int(log[0].replyChunks.size()), chunks);
    QCOMPARE(log[0].reply().toHex(' '), expected.toHex(' '));
    if (fault.kind != Fault::None)
        QVERIFY2(log[0].description.contains(QLatin1String(faultName(fault.kind))),
                 qPrintable(log[0].description));

    // The fault was for one request only.
    const int normalReplySize = request.at(1) == char(0x06) ? 8 : 7;
    QCOMPARE(bench.exchange(request, normalReplySize).size(), normalReplySize);
}

void TestSimulator::faultDecidesWhetherWriteIsStored_data() {
    QTest::addColumn<FaultSpec>("fault");
    QTest::addColumn<int>("stored");

    // Writing 0 over the model code 10: a lost request or an exception leaves it alone.
    QTest::newRow("no fault") << FaultSpec::of(Fault::None) << 0;
    QTest::newRow("no reply") << FaultSpec::of(Fault::NoReply) << 10;
    QTest::newRow("exception") << FaultSpec::exception(4) << 10;
    QTest::newRow("bad CRC on the echo") << FaultSpec::of(Fault::BadCrc) << 0;
    QTest::newRow("wrong echo") << FaultSpec::of(Fault::WrongEcho) << 0;
    QTest::newRow("late echo") << FaultSpec::late(50) << 0;
    QTest::newRow("raw reply") << FaultSpec::raw(hex("00")) << 0;
}

void TestSimulator::faultDecidesWhetherWriteIsStored() {
    QFETCH(FaultSpec, fault);
    QFETCH(int, stored);

    Bench bench;
    QVERIFY(bench.start());
    bench.sensor.queueFault(fault);
    QVERIFY(bench.client.write(hex("010600640000C815")));
    QVERIFY(bench.sensor.waitForExchanges(1, 2000));
    QCOMPARE(int(*bench.sensor.model().registerValue(100)), stored);
}

void TestSimulator::replyTiming_data() {
    QTest::addColumn<FaultSpec>("fault");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<bool>("lineTiming");
    QTest::addColumn<int>("turnaroundMs");
    QTest::addColumn<int>("replyDelayMs");
    QTest::addColumn<double>("minimumMs");  // from the request's write to the reply's last byte

    // Line timing: 8 request + 7 reply bytes of 10 bits each, plus the turnaround.
    QTest::newRow("late 150 ms") << FaultSpec::late(150) << 9600 << false << 0 << 0 << 150.0;
    QTest::newRow("split, 60 ms gap") << FaultSpec::split(3, 60) << 9600 << false << 0 << 0 << 60.0;
    QTest::newRow("double, 50 ms apart")
        << FaultSpec::doubled(50) << 9600 << false << 0 << 0 << 50.0;
    QTest::newRow("line timing 9600") << FaultSpec() << 9600 << true << 2 << 0 << 17.6;
    QTest::newRow("line timing 2400") << FaultSpec() << 2400 << true << 2 << 0 << 64.5;
    QTest::newRow("line timing 115200, 5 ms turnaround")
        << FaultSpec() << 115200 << true << 5 << 0 << 6.3;
    QTest::newRow("line timing and late 100 ms")
        << FaultSpec::late(100) << 9600 << true << 2 << 0 << 117.6;
    QTest::newRow("adapter latency 16 ms") << FaultSpec() << 115200 << false << 0 << 16 << 16.0;
    QTest::newRow("adapter latency, line timing and late 40 ms")
        << FaultSpec::late(40) << 115200 << true << 2 << 16 << 59.3;
}

void TestSimulator::replyTiming() {
    QFETCH(FaultSpec, fault);
    QFETCH(int, baudRate);
    QFETCH(bool, lineTiming);
    QFETCH(int, turnaroundMs);
    QFETCH(int, replyDelayMs);
    QFETCH(double, minimumMs);

    Bench bench;
    QVERIFY(bench.start(baudRate));
    bench.sensor.setLineTiming(lineTiming, turnaroundMs);
    bench.sensor.setReplyDelay(replyDelayMs);
    if (fault.kind != Fault::None)
        bench.sensor.queueFault(fault);
    const int expectedBytes = fault.kind == Fault::DoubleReply ? 14 : 7;
    QVERIFY(bench.client.write(kReadSerial));
    const auto arrivals = bench.client.collect(5000, expectedBytes);
    QCOMPARE(SimLineClient::joined(arrivals).size(), expectedBytes);
    // The client may see bytes later than they were sent, never earlier: a lower bound.
    const double tookMs = msBetween(bench.client.lastWriteAt(), arrivals.back().at);
    QVERIFY2(tookMs >= minimumMs, qPrintable(QString::number(tookMs)));
    QVERIFY2(tookMs < minimumMs + 2000, qPrintable(QString::number(tookMs)));

    QVERIFY(bench.sensor.waitForExchanges(1, 2000));
    const Exchange logged = bench.sensor.exchanges().front();
    const double loggedMs = msBetween(logged.receivedAt, *logged.lastSentAt());
    QVERIFY2(loggedMs >= minimumMs, qPrintable(QString::number(loggedMs)));
}

void TestSimulator::framesAreDelimitedBySilence_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray reply0 = kSerialReply;  // register 0 holds 10 as well
    QTest::newRow("two requests in one write")
        << kReadSerial + hex("010300000001840A") << 0 << QByteArray() << kSerialReply + reply0;
    QTest::newRow("stray bytes glued to a request")
        << hex("010203") + kReadSerial << 0 << QByteArray() << QByteArray();
    QTest::newRow("stray bytes, silence, request")
        << hex("010203") << 40 << kReadSerial << kSerialReply;
    QTest::newRow("request cut by silence")
        << kReadSerial.left(4) << 40 << kReadSerial.mid(4) << QByteArray();
    QTest::newRow("request, then its own tail again")
        << kReadSerial + kReadSerial.mid(4) << 40 << kReadSerial << kSerialReply + kSerialReply;
}

void TestSimulator::framesAreDelimitedBySilence() {
    QFETCH(QByteArray, first);
    QFETCH(int, pauseMs);
    QFETCH(QByteArray, second);
    QFETCH(QByteArray, expected);

    Bench bench;
    QVERIFY(bench.start());
    QVERIFY(bench.client.write(first));
    QByteArray got;
    if (pauseMs > 0) {
        got += SimLineClient::joined(bench.client.collect(pauseMs));
        QVERIFY(bench.client.write(second));
    }
    got += SimLineClient::joined(bench.client.collect(
        expected.isEmpty() ? 200 : 2000, expected.isEmpty() ? -1 : expected.size() - got.size()));
    got += SimLineClient::joined(bench.client.collect(30));
    QCOMPARE(got.toHex(' '), expected.toHex(' '));
}

void TestSimulator::uploadsComeOnTheirOwnAtTheInterval() {
    Bench bench;
    QVERIFY(bench.start(115200));
    bench.sensor.model().setRegister(SensorModel::kRegTemperature, 0xFE0C);
    bench.sensor.model().setRegister(SensorModel::kRegHumidity, 4550);
    const QByteArray frame = hex("010304FE0C11C6");
    QCOMPARE(bench.sensor.uploadFrame(), withCrc(frame));

    bench.sensor.setUploadInterval(50);
    const QByteArray received = SimLineClient::joined(bench.client.collect(525));
    bench.sensor.setUploadInterval(0);
    // Whole frames, about one per interval, and none once switched off.
    QCOMPARE(received.size() % 9, 0);
    const int frames = received.size() / 9;
    QVERIFY2(frames >= 5 && frames <= 11, qPrintable(QString::number(frames)));
    QCOMPARE(received, withCrc(frame).repeated(frames));
    QVERIFY(bench.client.collect(150).empty());
    QCOMPARE(bench.sensor.uploadedBytes(), std::uint64_t(received.size()));
    // Requests are still answered in between.
    QVERIFY(bench.client.write(kReadSerial));
    QCOMPARE(SimLineClient::joined(bench.client.collect(2000, 7)), kSerialReply);
}

void TestSimulator::queuedFaultWaitsForAnAnsweredRequest() {
    Bench bench;
    QVERIFY(bench.start());
    bench.sensor.queueFault(FaultSpec::of(Fault::NoReply));
    QCOMPARE(bench.exchange(hex("020300640001C5E6"), 0, 100), QByteArray());
    QCOMPARE(bench.exchange(kReadSerial, 0, 150), QByteArray());
    QCOMPARE(bench.exchange(kReadSerial, 7), kSerialReply);
    QVERIFY(bench.sensor.waitForExchanges(3, 2000));
    const auto log = bench.sensor.exchanges();
    QCOMPARE(log[0].fault, Fault::None);
    QCOMPARE(log[1].fault, Fault::NoReply);
    QCOMPARE(log[2].fault, Fault::None);
}

void TestSimulator::faultRateIsSeededAndRepeatable() {
    const auto pattern = [](std::uint32_t seed) {
        Bench bench(seed);
        QString faults;
        if (!bench.start())
            return QStringLiteral("no pty");
        bench.sensor.setFaultRate(FaultSpec::of(Fault::NoReply), 0.4);
        bench.sensor.setFaultRate(FaultSpec::of(Fault::BadCrc), 0.2);
        for (int i = 0; i < 40; ++i) {
            bench.client.write(kReadSerial);
            if (!bench.sensor.waitForExchanges(std::size_t(i + 1), 2000))
                return QStringLiteral("timed out");
        }
        for (const auto &exchange : bench.sensor.exchanges())
            faults += exchange.fault == Fault::None      ? QLatin1Char('.')
                      : exchange.fault == Fault::NoReply ? QLatin1Char('N')
                                                         : QLatin1Char('C');
        return faults;
    };
    const QString first = pattern(42);
    QCOMPARE(first.size(), 40);
    QCOMPARE(pattern(42), first);
    QVERIFY(pattern(43) != first);
    const int noReply = first.count(QLatin1Char('N'));
    const int badCrc = first.count(QLatin1Char('C'));
    QVERIFY2(noReply >= 6 && noReply <= 28, qPrintable(first));
    QVERIFY2(badCrc >= 1 && badCrc <= 18, qPrintable(first));
}

void TestSimulator::baudRateCodeChangesLineSpeedAfterEcho() {
    Bench bench;
    QVERIFY(bench.start(9600));
    QCOMPARE(int(bench.sensor.model().baudRateCode()), 3);
    QCOMPARE(bench.exchange(hex("01060067000779D7"), 5), hex("0186030261"));
    QCOMPARE(bench.sensor.baudRate(), 9600);
    // The echo still goes out at the old speed; the new one applies after it.
    bench.sensor.setLineTiming(true, 0);
    QVERIFY(bench.client.write(hex("01060067000439D6")));
    const auto arrivals = bench.client.collect(2000, 8);
    QCOMPARE(SimLineClient::joined(arrivals), hex("01060067000439D6"));
    const double echoMs = msBetween(bench.client.lastWriteAt(), arrivals.back().at);
    QVERIFY2(echoMs >= 16 * 10 * 1000.0 / 9600, qPrintable(QString::number(echoMs)));
    QVERIFY(bench.sensor.waitForExchanges(2, 2000));
    QCOMPARE(bench.sensor.baudRate(), 19200);
    QCOMPARE(int(bench.sensor.model().baudRateCode()), 4);
}

void TestSimulator::exchangeLogAndLoggerSeeCompleteExchanges() {
    // Declared before the sensor, so that they outlive its thread.
    std::mutex mutex;
    std::vector<Exchange> logged;
    Bench bench;
    bench.sensor.setFrameLogger([&](const Exchange &exchange) {
        std::lock_guard<std::mutex> lock(mutex);
        logged.push_back(exchange);
    });
    QVERIFY(bench.start());
    bench.sensor.queueFault(FaultSpec::late(300));
    QVERIFY(bench.client.write(kReadSerial));
    // While the late reply is pending the exchange is not complete.
    QVERIFY(!bench.sensor.waitForExchanges(1, 10));
    QVERIFY(bench.sensor.waitForExchanges(1, 2000));
    QCOMPARE(SimLineClient::joined(bench.client.collect(2000, 7)), kSerialReply);
    QCOMPARE(bench.exchange(kScan, 7), kSerialReply);
    QCOMPARE(bench.exchange(hex("020300640001C5E6"), 0, 100), QByteArray());
    QVERIFY(bench.sensor.waitForExchanges(3, 2000));

    std::unique_lock<std::mutex> lock(mutex);
    QCOMPARE(int(logged.size()), 3);
    QCOMPARE(logged[0].reply(), kSerialReply);
    QCOMPARE(logged[0].fault, Fault::LateReply);
    QVERIFY2(logged[1].description.startsWith(QLatin1String("scan: read reg 100 = 0x000A")),
             qPrintable(logged[1].description));
    QVERIFY(logged[2].replyChunks.empty());
    QVERIFY(logged[0].receivedAt <= logged[1].receivedAt);
    lock.unlock();

    bench.sensor.clearExchanges();
    QVERIFY(bench.sensor.exchanges().empty());
    QCOMPARE(bench.exchange(kReadSerial, 7), kSerialReply);
    QVERIFY(bench.sensor.waitForExchanges(1, 2000));
    QCOMPARE(bench.sensor.exchanges().front().reply(), kSerialReply);
}

void TestSimulator::clientMayCloseAndReopen() {
    Bench bench;
    QVERIFY(bench.start());
    QCOMPARE(bench.exchange(kReadSerial, 7), kSerialReply);
    bench.client.close();
    QVERIFY(bench.client.open(bench.sensor.portPath()));
    QCOMPARE(bench.exchange(kReadSerial, 7), kSerialReply);
    QVERIFY(bench.sensor.isRunning());
}

void TestSimulator::hangUpIsSeenOnTheSerialPort() {
    SimulatedSensor sensor;
    presetFrozen(sensor.model());
    QVERIFY(sensor.openPty());
    QSerialPort port;
    port.setPortName(sensor.portPath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write(kReadSerial);
    QTRY_COMPARE_WITH_TIMEOUT(port.bytesAvailable(), qint64(7), 2000);
    QCOMPARE(port.readAll(), kSerialReply);

    sensor.hangUp();
    QVERIFY(!sensor.isRunning());
    // What the program watches for on the port's descriptor. (Qt 5.15 also reports read
    // errors on every read notification from now on; Qt 6.8 reports nothing.)
    pollfd line{int(port.handle()), POLLIN, 0};
    QCOMPARE(::poll(&line, 1, 2000), 1);
    QVERIFY2((line.revents & POLLHUP) != 0, qPrintable(QString::number(line.revents)));
    port.close();
}

void TestSimulator::hangUpIsSeenByRawClient() {
    Bench bench;
    QVERIFY(bench.start());
    QVERIFY(!bench.client.waitForHangUp(50));
    bench.sensor.hangUp();
    QVERIFY(bench.client.waitForHangUp(2000));
}

void TestSimulator::bridgeCarriesBothWays() {
    PtyBridge bridge;
    QString error;
    QVERIFY2(bridge.open(&error), qPrintable(error));
    QVERIFY(bridge.pathA() != bridge.pathB());
    SimLineClient a;
    SimLineClient b;
    QVERIFY(a.open(bridge.pathA()));
    QVERIFY(b.open(bridge.pathB()));

    const QByteArray big(3000, '\x5A');  // more than one read's worth
    QVERIFY(a.write(kReadSerial));
    QCOMPARE(SimLineClient::joined(b.collect(2000, 8)), kReadSerial);
    QVERIFY(b.write(big));
    QCOMPARE(SimLineClient::joined(a.collect(2000, big.size())), big);
    // The bridge counts a write once it returned, which may be after the reader has the bytes.
    QTRY_COMPARE(bridge.bytesAtoB(), std::uint64_t(8));
    QTRY_COMPARE(bridge.bytesBtoA(), std::uint64_t(big.size()));

    // A side that closes and reopens keeps the cable.
    a.close();
    QVERIFY(a.open(bridge.pathA()));
    QVERIFY(a.write(kScan));
    QCOMPARE(SimLineClient::joined(b.collect(2000, 8)), kScan);
}

void TestSimulator::programRejectsOrHelps_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");  // in stdout for exit 0, else in stderr

    QTest::newRow("--help") << QStringList{"--help"} << 0 << "--fault-rate";
    QTest::newRow("--help lists --version") << QStringList{"--help"} << 0 << "--version";
    QTest::newRow("--help-all") << QStringList{"--help-all"} << 0 << "--fault-rate";
    QTest::newRow("--version") << QStringList{"--version"} << 0
                               << "sensor_simulator " WORKBENCH_VERSION "\n";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "bogus";
    QTest::newRow("missing device")
        << QStringList{"--device", "/nonexistent/ttyS9"} << 1 << "/nonexistent/ttyS9";
    QTest::newRow("not a serial device")
        << QStringList{"--device", "/dev/null"} << 1 << "not a serial device";
    QTest::newRow("address 0") << QStringList{"--address", "0"} << 2 << "address";
    QTest::newRow("address 250") << QStringList{"--address", "250"} << 2 << "address";
    QTest::newRow("odd baud rate") << QStringList{"--baud", "1234"} << 2 << "baud";
    QTest::newRow("unknown fault") << QStringList{"--fault-rate", "Nope=0.1"} << 2 << "NoReply";
    QTest::newRow("probability over 1")
        << QStringList{"--fault-rate", "BadCrc=1.5"} << 2 << "probability";
    QTest::newRow("rates over 1 in all")
        << QStringList{"--fault-rate", "BadCrc=0.6", "--fault-rate", "NoReply=0.6"} << 2
        << "more than 1";
    QTest::newRow("register that does not exist") << QStringList{"--set", "110=5"} << 2 << "--set";
    QTest::newRow("stray argument") << QStringList{"extra"} << 2 << "extra";
    QTest::newRow("negative reply delay") << QStringList{"--reply-delay", "-1"} << 2 << "delay";
    QTest::newRow("upload interval not a number")
        << QStringList{"--upload-interval", "often"} << 2 << "upload interval";
}

void TestSimulator::programRejectsOrHelps() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QProcess program;
    program.start(QStringLiteral(SENSOR_SIMULATOR_PATH), arguments);
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString text = QString::fromLocal8Bit(exitCode == 0 ? program.readAllStandardOutput()
                                                              : program.readAllStandardError());
    QVERIFY2(text.contains(message), qPrintable(text));
}

void TestSimulator::programServesAndStopsOnSignal_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

void TestSimulator::programServesAndStopsOnSignal() {
    QFETCH(int, signal);

    QProcess program;
    program.start(QStringLiteral(SENSOR_SIMULATOR_PATH),
                  {"--address", "3", "--frozen", "--set", "100=10"});
    QVERIFY(program.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(program.canReadLine(), 10000);
    const QString path = QString::fromLocal8Bit(program.readLine()).trimmed();
    QVERIFY2(path.startsWith(QLatin1String("/dev/")), qPrintable(path));

    SimLineClient client;
    QVERIFY(client.open(path));
    QVERIFY(client.write(kScan));
    QCOMPARE(SimLineClient::joined(client.collect(5000, 7)), hex("030302000A4183"));
    // The log line for the exchange is written once the reply is out.
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += program.readAllStandardError()).contains("scan: read reg"),
                             5000);
    QVERIFY2(log.contains("<- FA 03 00 64 00 01 D0 5E"), log.constData());
    QVERIFY2(log.contains("-> 03 03 02 00 0A 41 83  scan: read reg 100 = 0x000A"), log.constData());

    QCOMPARE(::kill(pid_t(program.processId()), signal), 0);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
