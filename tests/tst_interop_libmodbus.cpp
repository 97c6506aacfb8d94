// The simulated sensor and the product's RTU master, each against libmodbus, an independent
// Modbus implementation: libmodbus as client of the simulator, and libmodbus as the slave
// that RtuMaster talks to through a pty bridge.

#include "rtu/rtumaster.h"
#include "sim/simulatedsensor.h"
#include "support/busfixture.h"
#include "transport/serial.h"

#include <QtTest>

#include <modbus/modbus.h>

#include <cerrno>
#include <mutex>
#include <thread>

Q_DECLARE_METATYPE(FaultSpec)

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}

// libmodbus context on a device path; closed and freed on destruction.
class ModbusRtu {
public:
    explicit ModbusRtu(const QString &path)
        : ctx(modbus_new_rtu(path.toLocal8Bit().constData(), 9600, 'N', 8, 1)) {}
    ~ModbusRtu() {
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }
    ModbusRtu(const ModbusRtu &) = delete;
    ModbusRtu &operator=(const ModbusRtu &) = delete;

    bool connect(int slave) {
        return ctx && modbus_set_slave(ctx, slave) == 0 && modbus_connect(ctx) == 0;
    }

    modbus_t *ctx;
};

QString modbusError() {
    return QStringLiteral("errno %1: %2")
        .arg(errno)
        .arg(QString::fromLocal8Bit(modbus_strerror(errno)));
}

// A libmodbus slave with 300 holding registers, serving a device path on its own thread.
class ModbusServer {
public:
    static constexpr int kRegisters = 300;

    explicit ModbusServer(const QString &path) : rtu(path) {}
    ~ModbusServer() { stop(); }

    bool start(int slave) {
        mapping = modbus_mapping_new(0, 0, kRegisters, 0);
        if (!mapping || !rtu.connect(slave))
            return false;
        // A short wait for each request lets the thread see the stop flag.
        modbus_set_indication_timeout(rtu.ctx, 0, 50000);
        thread = std::thread([this] { serve(); });
        return true;
    }

    void stop() {
        stopping = true;
        if (thread.joinable())
            thread.join();
        if (mapping)
            modbus_mapping_free(mapping);
        mapping = nullptr;
    }

    void setRegister(int reg, std::uint16_t value) {
        std::lock_guard<std::mutex> lock(mutex);
        mapping->tab_registers[reg] = value;
    }
    std::uint16_t registerValue(int reg) {
        std::lock_guard<std::mutex> lock(mutex);
        return mapping->tab_registers[reg];
    }
    QList<QByteArray> requests() {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }

private:
    void serve() {
        std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stopping) {
            const int length = modbus_receive(rtu.ctx, query);
            if (length > 0) {
                std::lock_guard<std::mutex> lock(mutex);
                received << QByteArray(reinterpret_cast<const char *>(query), length);
                modbus_reply(rtu.ctx, query, length, mapping);
            } else if (length < 0 && errno != ETIMEDOUT && errno != EMBBADCRC) {
                return;  // the line is gone
            }
            // 0: a request for another slave, ignored as a slave must.
        }
    }

    ModbusRtu rtu;
    modbus_mapping_t *mapping = nullptr;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::mutex mutex;  // guards mapping's contents and received
    QList<QByteArray> received;
};

}  // namespace

class TestInteropLibmodbus : public QObject {
    Q_OBJECT

private slots:
    void libmodbusReadsSimulator_data();
    void libmodbusReadsSimulator();
    void libmodbusWritesSimulator();
    void libmodbusSeesScanAnsweredWithOwnAddress();
    void libmodbusSeesErrors_data();
    void libmodbusSeesErrors();

    void rtuMasterAgainstLibmodbusSlave_data();
    void rtuMasterAgainstLibmodbusSlave();
    void rtuMasterRunsManyTransactionsAgainstLibmodbus();
};

namespace {

void presetFrozen(SensorModel &model) {
    model.setLiveValuesMoving(false);
    model.setRegister(SensorModel::kRegSmokePpm, 10);
    model.setRegister(SensorModel::kRegTemperature, 0xFF38);  // -2.00 degrees
    model.setRegister(SensorModel::kRegHumidity, 0x1194);
    model.setRegister(SensorModel::kRegAlarmStatus, 0);
    model.setRegister(SensorModel::kRegSerialNumber, 10);
}

// A frozen simulated sensor on a pty and a connected libmodbus client for it.
struct SimulatorBench {
    SimulatedSensor sensor;
    std::unique_ptr<ModbusRtu> client;

    bool start(int clientSlave = 1) {
        presetFrozen(sensor.model());
        if (!sensor.openPty())
            return false;
        client = std::make_unique<ModbusRtu>(sensor.portPath());
        if (!client->connect(clientSlave))
            return false;
        modbus_set_response_timeout(client->ctx, 0, 500000);
        // Longer than a split reply's gap, so libmodbus waits for the second chunk.
        modbus_set_byte_timeout(client->ctx, 0, 200000);
        return true;
    }
};

}  // namespace

void TestInteropLibmodbus::libmodbusReadsSimulator_data() {
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("count");

    QTest::newRow("model code") << 100 << 1;
    QTest::newRow("temperature") << 1 << 1;
    QTest::newRow("four live registers") << 0 << 4;
    QTest::newRow("configuration 100 to 109") << 100 << 10;
    QTest::newRow("smoke block 111 to 120") << 111 << 10;
    QTest::newRow("signal output type") << 255 << 1;
}

void TestInteropLibmodbus::libmodbusReadsSimulator() {
    QFETCH(int, reg);
    QFETCH(int, count);

    SimulatorBench bench;
    QVERIFY(bench.start());
    std::uint16_t values[16] = {};
    QCOMPARE(modbus_read_registers(bench.client->ctx, reg, count, values), count);
    for (int i = 0; i < count; ++i)
        QCOMPARE(values[i], *bench.sensor.model().registerValue(reg + i));
    if (reg <= 1 && reg + count > 1)
        QCOMPARE(std::int16_t(values[1 - reg]), std::int16_t(-200));
}

void TestInteropLibmodbus::libmodbusWritesSimulator() {
    SimulatorBench bench;
    QVERIFY(bench.start());
    modbus_t *ctx = bench.client->ctx;
    QCOMPARE(modbus_write_register(ctx, 108, 0xFC18), 1);
    QCOMPARE(int(*bench.sensor.model().registerValue(108)), 0xFC18);
    std::uint16_t value = 0;
    QCOMPARE(modbus_read_registers(ctx, 108, 1, &value), 1);
    QCOMPARE(std::int16_t(value), std::int16_t(-1000));

    // A new address takes effect at once: the echo still comes from the old one.
    QCOMPARE(modbus_write_register(ctx, 102, 9), 1);
    QCOMPARE(int(bench.sensor.model().address()), 9);
    QCOMPARE(modbus_read_registers(ctx, 100, 1, &value), -1);
    QCOMPARE(errno, ETIMEDOUT);
    modbus_set_slave(ctx, 9);
    QCOMPARE(modbus_read_registers(ctx, 100, 1, &value), 1);
    QCOMPARE(value, std::uint16_t(10));
}

void TestInteropLibmodbus::libmodbusSeesScanAnsweredWithOwnAddress() {
    SimulatorBench bench;
    bench.sensor.model().setAddress(7);
    QVERIFY(bench.start(7));
    modbus_t *ctx = bench.client->ctx;
    // Sent raw: libmodbus takes no slave address above 247 and would refuse a reply from an
    // address it did not ask.
    const std::uint8_t scan[] = {250, 0x03, 0x00, 0x64, 0x00, 0x01};
    QVERIFY(modbus_send_raw_request(ctx, scan, sizeof scan) > 0);
    std::uint8_t reply[MODBUS_RTU_MAX_ADU_LENGTH] = {};
    const int length = modbus_receive_confirmation(ctx, reply);
    QVERIFY2(length > 0, qPrintable(modbusError()));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(reply), length).toHex(' '),
             hex("070302000AB043").toHex(' '));
    QVERIFY(bench.sensor.waitForExchanges(1, 2000));
    QCOMPARE(bench.sensor.exchanges().front().request, hex("FA0300640001D05E"));
}

void TestInteropLibmodbus::libmodbusSeesErrors_data() {
    QTest::addColumn<int>("slave");
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("countOrValue");
    QTest::addColumn<FaultSpec>("fault");
    QTest::addColumn<int>("error");  // 0: the transaction succeeds

    const FaultSpec none;
    QTest::newRow("read of register 110") << 1 << false << 110 << 1 << none << int(EMBXILADD);
    QTest::newRow("read over the gap") << 1 << false << 108 << 3 << none << int(EMBXILADD);
    QTest::newRow("write of register 110") << 1 << true << 110 << 5 << none << int(EMBXILADD);
    QTest::newRow("write of a live register") << 1 << true << 1 << 5 << none << int(EMBXILADD);
    QTest::newRow("baud-rate code 9") << 1 << true << 103 << 9 << none << int(EMBXILVAL);
    QTest::newRow("device address 0") << 1 << true << 102 << 0 << none << int(EMBXILVAL);
    QTest::newRow("another slave is silent") << 2 << false << 100 << 1 << none << ETIMEDOUT;
    QTest::newRow("fault: no reply")
        << 1 << false << 100 << 1 << FaultSpec::of(Fault::NoReply) << ETIMEDOUT;
    QTest::newRow("fault: bad CRC")
        << 1 << false << 100 << 1 << FaultSpec::of(Fault::BadCrc) << int(EMBBADCRC);
    QTest::newRow("fault: other address")
        << 1 << false << 100 << 1 << FaultSpec::otherAddressReply(9) << int(EMBBADSLAVE);
    QTest::newRow("fault: exception 04")
        << 1 << false << 100 << 1 << FaultSpec::exception(4) << int(EMBXSFAIL);
    QTest::newRow("fault: late beyond the timeout")
        << 1 << false << 100 << 1 << FaultSpec::late(900) << ETIMEDOUT;
    QTest::newRow("fault: truncated")
        << 1 << false << 100 << 1 << FaultSpec::truncated(4) << ETIMEDOUT;
    QTest::newRow("fault: split, 40 ms gap")
        << 1 << false << 100 << 1 << FaultSpec::split(3, 40) << 0;
    QTest::newRow("fault: split echo, 40 ms gap")
        << 1 << true << 100 << 7 << FaultSpec::split(4, 40) << 0;
}

void TestInteropLibmodbus::libmodbusSeesErrors() {
    QFETCH(int, slave);
    QFETCH(bool, write);
    QFETCH(int, reg);
    QFETCH(int, countOrValue);
    QFETCH(FaultSpec, fault);
    QFETCH(int, error);

    SimulatorBench bench;
    QVERIFY(bench.start(slave));
    if (fault.kind != Fault::None)
        bench.sensor.queueFault(fault);
    std::uint16_t values[8] = {};
    errno = 0;
    const int result = write ? modbus_write_register(bench.client->ctx, reg, countOrValue)
                             : modbus_read_registers(bench.client->ctx, reg, countOrValue, values);
    if (error == 0) {
        QVERIFY2(result == (write ? 1 : countOrValue), qPrintable(modbusError()));
        if (write)
            QCOMPARE(int(*bench.sensor.model().registerValue(reg)), countOrValue);
        else
            QCOMPARE(values[0], *bench.sensor.model().registerValue(reg));
    } else {
        QCOMPARE(result, -1);
        QVERIFY2(errno == error, qPrintable(modbusError()));
    }
}

void TestInteropLibmodbus::rtuMasterAgainstLibmodbusSlave_data() {
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");  // written, or expected from a read
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("request");  // as the slave received it; empty: ignored

    QTest::newRow("read model code") << false << 1 << 100 << 0x2107 << 1 << hex("010300640001C5D5");
    QTest::newRow("read negative temperature")
        << false << 1 << 1 << 0xFF38 << 1 << hex("010300010001D5CA");
    QTest::newRow("read register 300: exception")
        << false << 1 << 300 << 0 << 0 << hex("0103012C0001443F");
    QTest::newRow("read at another slave") << false << 2 << 100 << 0 << 0 << QByteArray();
    QTest::newRow("write temperature offset")
        << true << 1 << 108 << 0xFC18 << 1 << hex("0106006CFC1808DD");
    QTest::newRow("write register 300: exception")
        << true << 1 << 300 << 5 << 0 << hex("0106012C000589FC");
}

void TestInteropLibmodbus::rtuMasterAgainstLibmodbusSlave() {
    QFETCH(bool, write);
    QFETCH(int, slave);
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(int, result);
    QFETCH(QByteArray, request);

    PtyBridge bridge;
    QString error;
    QVERIFY2(bridge.open(&error), qPrintable(error));
    ModbusServer server(bridge.pathA());
    QVERIFY2(server.start(1), qPrintable(modbusError()));
    server.setRegister(100, 0x2107);
    server.setRegister(1, 0xFF38);

    Serial serial;
    wireReadyRead(serial);
    QVERIFY(serial.openPort(bridge.pathB(), 9600));
    serial.replyWaitMs = 70;
    RtuMaster master(serial);

    int outcome = -1;
    std::uint8_t data[255] = {};
    std::uint8_t byteCount = 0;
    const std::uint8_t bytes[2] = {std::uint8_t(value >> 8), std::uint8_t(value & 0xFF)};
    QVERIFY(runOnWorker([&] {
        outcome = write ? master.writeRegister(slave, reg, bytes, 2)
                        : master.readRegisters(slave, reg, 1, data, &byteCount);
    }));
    QCOMPARE(outcome, result);
    if (result == 1 && !write) {
        QCOMPARE(int(byteCount), 2);
        QCOMPARE(data[0] << 8 | data[1], value);
        QCOMPARE(int(master.replyAddress()), slave);
    }
    if (write && reg < ModbusServer::kRegisters)
        QCOMPARE(int(server.registerValue(reg)), value);

    const auto received = server.requests();
    QCOMPARE(received.size(), request.isEmpty() ? 0 : 1);
    if (!request.isEmpty())
        QCOMPARE(received.first().toHex(' '), request.toHex(' '));
    serial.closePort();
}

void TestInteropLibmodbus::rtuMasterRunsManyTransactionsAgainstLibmodbus() {
    PtyBridge bridge;
    QString error;
    QVERIFY2(bridge.open(&error), qPrintable(error));
    ModbusServer server(bridge.pathA());
    QVERIFY2(server.start(1), qPrintable(modbusError()));

    Serial serial;
    wireReadyRead(serial);
    QVERIFY(serial.openPort(bridge.pathB(), 9600));
    serial.replyWaitMs = 70;
    RtuMaster master(serial);

    constexpr int kRounds = 12;
    int failures = 0;
    QVERIFY(runOnWorker(
        [&] {
            for (int i = 0; i < kRounds; ++i) {
                const std::uint16_t value = std::uint16_t(0x0100 * i + 7);
                const std::uint8_t bytes[2] = {std::uint8_t(value >> 8), std::uint8_t(value)};
                std::uint8_t data[255] = {};
                std::uint8_t count = 0;
                if (master.writeRegister(1, 110 + i, bytes, 2) != 1 ||
                    master.readRegisters(1, 110 + i, 1, data, &count) != 1 || count != 2 ||
                    (data[0] << 8 | data[1]) != value)
                    ++failures;
            }
        },
        30000));
    QCOMPARE(failures, 0);
    QCOMPARE(server.requests().size(), 2 * kRounds);
    serial.closePort();
}

QTEST_GUILESS_MAIN(TestInteropLibmodbus)
#include "tst_interop_libmodbus.moc"
