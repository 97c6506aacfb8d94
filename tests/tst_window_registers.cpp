// The register buttons of both window variants, end to end against the simulated sensor:
// what goes on the wire, what lands in the entry field, what the log says.
#include <QGroupBox>
#include <QtTest>

#include <memory>

#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "support/ops_session.h"
#include "transport/serial.h"

namespace {

QWidget *newWindow() {
    return new MainWindow;
}

// One register button pair as the operator's manual lists it.
struct Register {
    const char *name;
    const char *field;
    const char *readButton;
    const char *writeButton;
    std::uint32_t readCode;
    std::uint32_t writeCode;
    int reg;
    int minimum;
    int maximum;
    bool smokeOutput;  // absent from the reduced window
};

const Register kRegisters[] = {
    {"device address", "lineEdit_device_address", "read_device_address", "write_device_address", 1,
     81, 102, 1, 249, false},
    {"model code", "lineEdit_serial_number", "read_serial_number", "write_serial_number", 2, 82,
     100, 0, 65535, false},
    {"measuring points", "lineEdit_test_amount", "read_test_amount", "write_test_amount", 3, 83,
     101, 0, 254, false},
    {"baud-rate code", "lineEdit_baud_rate", "read_baud_rate", "write_baud_rate", 4, 84, 103, 1, 6,
     false},
    {"communication mode", "lineEdit_communication_mode", "read_communication_mode",
     "write_communication_mode", 5, 85, 104, 0, 254, false},
    {"protocol type", "lineEdit_protocol_type", "read_protocol_data", "write_protocol_data", 6, 86,
     105, 0, 254, false},
    {"upload interval", "lineEdit_update_time", "read_update_time", "write_update_time", 7, 87, 106,
     0, 35999, false},
    {"smoke offset", "lineEdit_smoke_offset", "read_smoke_offset", "write_smoke_offset", 8, 88, 107,
     -1000, 1000, false},
    {"temperature offset", "lineEdit_tem_offset_value", "read_tem_offset", "write_tem_offset", 9,
     89, 108, -1000, 1000, false},
    {"humidity offset", "lineEdit_hum_offset_value", "read_hum_offset", "write_hum_offset", 10, 90,
     109, -2000, 2000, false},
    {"AD maximum", "line_edit_ad_max", "read_ad_max", "write_ad_max", 11, 91, 113, 0, 4096, false},
    {"AD minimum", "line_edit_ad_min", "read_ad_min", "write_ad_min", 12, 92, 114, 0, 4096, false},
    {"range maximum", "line_edit_range_max", "read_range_max", "write_range_max", 13, 93, 115, 0,
     5000, false},
    {"range minimum", "line_range_min", "read_range_min", "write_range_min", 14, 94, 116, 0, 5000,
     false},
    {"signal output type", "line_edit_output_change", "read_output_change", "write_output_change",
     15, 95, 255, 0, 100, false},
    {"smoke alarm value", "lineEdit_smoke_warning", "read_smoke_warning", "write_smoke_warning", 16,
     96, 111, 0, 5000, false},
    {"voltage PWM maximum", "line_edit_smoke_v_max", "read_smoke_v_max", "write_smoke_v_max", 17,
     97, 117, 0, 10000, true},
    {"voltage PWM minimum", "line_edit_smoke_v_min", "read_smoke_v_min", "write_smoke_v_min", 18,
     98, 118, 0, 10000, true},
    {"current PWM maximum", "line_edit_smoke_c_max", "read_smoke_c_max", "write_smoke_c_max", 19,
     99, 119, 0, 10000, true},
    {"current PWM minimum", "line_edit_smoke_c_min", "read_smoke_c_min", "write_smoke_c_min", 20,
     100, 120, 0, 10000, true},
};

const Register &registerNamed(const QString &name) {
    for (const Register &entry : kRegisters) {
        if (name == QLatin1String(entry.name))
            return entry;
    }
    qFatal("no register %s", qPrintable(name));
}

QByteArray bytes(const char *hex) {
    return QByteArray::fromHex(hex);
}

QString dump(const QByteArray &frame) {
    QString text;
    for (const char byte : frame)
        text += QStringLiteral("%1 ").arg(std::uint8_t(byte), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

}  // namespace

Q_DECLARE_METATYPE(FaultSpec)

class RegistersTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void reads_data();
    void reads();
    void writes_data();
    void writes();
    void readFailures_data();
    void readFailures();
    void writeFailures_data();
    void writeFailures();
    void rangeLimits_data();
    void rangeLimits();
    void typedTexts_data();
    void typedTexts();
    void twoPostsBeforeARunGiveOneTransaction();
    // Closes the port: runs last.
    void postsWhileClosedAreCarriedOutAfterOpening();

private:
    // The smoke output buttons of the reduced window have no slot: enabling their group
    // must not make them do anything either.
    void enableSmokeOutputGroup();
    bool buttonWorks(const Register &entry) const { return !(kReducedWindow && entry.smokeOutput); }
    void expectNothingHappens(const char *button);

    std::unique_ptr<OpsSession> session;
};

void RegistersTest::initTestCase() {
    session = std::make_unique<OpsSession>(newWindow);
    QVERIFY(session->isValid());
    QVERIFY(session->openAndScan());
    enableSmokeOutputGroup();
}

void RegistersTest::init() {
    QVERIFY(session->waitForIdleWorker());
    SimulatedSensor &sensor = session->sensor();
    sensor.clearFaultQueue();
    sensor.model().setAddress(1);
    sensor.model().setRegister(SensorModel::kRegBaudRateCode, SensorModel::kDefaultBaudRateCode);
    sensor.clearExchanges();
}

void RegistersTest::cleanupTestCase() {
    session.reset();
}

void RegistersTest::enableSmokeOutputGroup() {
    if (auto *group = session->widget<QGroupBox>("groupBox_5"))
        group->setEnabled(true);
}

void RegistersTest::expectNothingHappens(const char *button) {
    const int first = session->logLineCount();
    session->click(button);
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(Idle));
    session->waitTicks(3);
    QCOMPARE(session->logLinesFrom(first), QStringList());
    QVERIFY(session->sensor().exchanges().empty());
}

void RegistersTest::reads_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shown");
    // The device address reads back through a scan: the reply's address is shown.
    QTest::newRow("device address") << "device address" << 0x1234 << "1";
    QTest::newRow("model code") << "model code" << 0xBEEF << "48879";
    QTest::newRow("measuring points: low byte") << "measuring points" << 0x0102 << "2";
    QTest::newRow("baud-rate code: low byte") << "baud-rate code" << 0x0105 << "5";
    QTest::newRow("communication mode: low byte") << "communication mode" << 0x0A03 << "3";
    QTest::newRow("protocol type: low byte") << "protocol type" << 0x01FE << "254";
    QTest::newRow("upload interval") << "upload interval" << 35999 << "35999";
    QTest::newRow("smoke offset: signed") << "smoke offset" << 0xFC18 << "-1000";
    QTest::newRow("temperature offset: signed") << "temperature offset" << 0xFF38 << "-200";
    QTest::newRow("humidity offset") << "humidity offset" << 2000 << "2000";
    QTest::newRow("AD maximum") << "AD maximum" << 0x1000 << "4096";
    QTest::newRow("AD minimum: unsigned") << "AD minimum" << 0xFFFF << "65535";
    QTest::newRow("range maximum") << "range maximum" << 5000 << "5000";
    QTest::newRow("range minimum") << "range minimum" << 7 << "7";
    QTest::newRow("signal output type") << "signal output type" << 0x8001 << "32769";
    QTest::newRow("smoke alarm value") << "smoke alarm value" << 300 << "300";
    QTest::newRow("voltage PWM maximum") << "voltage PWM maximum" << 10000 << "10000";
    QTest::newRow("voltage PWM minimum") << "voltage PWM minimum" << 0x8000 << "32768";
    QTest::newRow("current PWM maximum") << "current PWM maximum" << 1 << "1";
    QTest::newRow("current PWM minimum") << "current PWM minimum" << 0 << "0";
}

void RegistersTest::reads() {
    QFETCH(QString, name);
    QFETCH(int, value);
    QFETCH(QString, shown);
    const Register &entry = registerNamed(name);
    const bool scan = entry.readCode == ScanDevice;
    SimulatedSensor &sensor = session->sensor();
    // The scan reads the model code register; the address comes from the reply's first byte.
    QVERIFY(sensor.model().setRegister(scan ? 100 : entry.reg, std::uint16_t(value)));
    session->setText(entry.field, QStringLiteral("old"));
    if (!buttonWorks(entry)) {
        expectNothingHappens(entry.readButton);
        QCOMPARE(session->text(entry.field), QStringLiteral("old"));
        return;
    }
    const uint sentBefore = session->text("lable_send_counter").toUInt();
    const uint receivedBefore = session->text("lable_receive_counter_2").toUInt();
    const int first = session->logLineCount();
    const QString success = scan ? QStringLiteral("获取成功！") : QStringLiteral("读取成功！");

    session->click(entry.readButton);

    QCOMPARE(sharedState.commandCode.load(), entry.readCode);
    QVERIFY(session->waitForLogLine(success, first) >= 0);
    const QByteArray request = scan ? bytes("FA0300640001D05E") : readRequestFrame(1, entry.reg);
    const QByteArray reply =
        withCrc(bytes("010302") + QByteArray(1, char(value >> 8)) + QByteArray(1, char(value)));
    QCOMPARE(session->logLinesFrom(first),
             (QStringList{"Send: " + dump(request), "Receive: " + dump(reply), success}));
    QCOMPARE(session->text(entry.field), shown);
    const std::vector<Exchange> exchanges = sensor.exchanges();
    QCOMPARE(exchanges.size(), std::size_t(1));
    QCOMPARE(exchanges.front().request, request);
    QCOMPARE(session->text("lable_send_counter").toUInt(), sentBefore + 8);
    QCOMPARE(session->text("lable_receive_counter_2").toUInt(), receivedBefore + 7);
}

void RegistersTest::writes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("device address") << "device address"
                                    << "5" << bytes("0005");
    QTest::newRow("model code") << "model code"
                                << "65535" << bytes("FFFF");
    QTest::newRow("measuring points") << "measuring points"
                                      << "254" << bytes("00FE");
    QTest::newRow("baud-rate code") << "baud-rate code"
                                    << "6" << bytes("0006");
    QTest::newRow("communication mode") << "communication mode"
                                        << "2" << bytes("0002");
    QTest::newRow("protocol type") << "protocol type"
                                   << "0" << bytes("0000");
    QTest::newRow("upload interval") << "upload interval"
                                     << "35999" << bytes("8C9F");
    QTest::newRow("smoke offset") << "smoke offset"
                                  << "-1" << bytes("FFFF");
    QTest::newRow("temperature offset") << "temperature offset"
                                        << "-1000" << bytes("FC18");
    QTest::newRow("humidity offset") << "humidity offset"
                                     << "-2000" << bytes("F830");
    QTest::newRow("AD maximum") << "AD maximum"
                                << "4096" << bytes("1000");
    QTest::newRow("AD minimum") << "AD minimum"
                                << "400" << bytes("0190");
    QTest::newRow("range maximum") << "range maximum"
                                   << "5000" << bytes("1388");
    QTest::newRow("range minimum") << "range minimum"
                                   << "1" << bytes("0001");
    QTest::newRow("signal output type") << "signal output type"
                                        << "100" << bytes("0064");
    QTest::newRow("smoke alarm value") << "smoke alarm value"
                                       << "4999" << bytes("1387");
    QTest::newRow("voltage PWM maximum") << "voltage PWM maximum"
                                         << "10000" << bytes("2710");
    QTest::newRow("voltage PWM minimum") << "voltage PWM minimum"
                                         << "9" << bytes("0009");
    QTest::newRow("current PWM maximum") << "current PWM maximum"
                                         << "8000" << bytes("1F40");
    QTest::newRow("current PWM minimum") << "current PWM minimum"
                                         << "256" << bytes("0100");
}

void RegistersTest::writes() {
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(QByteArray, data);
    const Register &entry = registerNamed(name);
    SimulatedSensor &sensor = session->sensor();
    session->setText(entry.field, typed);
    if (!buttonWorks(entry)) {
        expectNothingHappens(entry.writeButton);
        return;
    }
    const uint sentBefore = session->text("lable_send_counter").toUInt();
    const uint receivedBefore = session->text("lable_receive_counter_2").toUInt();
    const int first = session->logLineCount();

    session->click(entry.writeButton);

    QCOMPARE(sharedState.commandCode.load(), entry.writeCode);
    QVERIFY(session->waitForLogLine(QStringLiteral("写入成功！"), first) >= 0);
    const QByteArray request = writeRequestFrame(1, entry.reg, data);
    QCOMPARE(session->logLinesFrom(first),
             (QStringList{"Send: " + dump(request), "Receive: " + dump(request),
                          QStringLiteral("写入成功！")}));
    QCOMPARE(sensor.exchanges().size(), std::size_t(1));
    QCOMPARE(sensor.exchanges().front().request, request);
    const auto stored = std::uint16_t(std::uint8_t(data[0]) << 8 | std::uint8_t(data[1]));
    QCOMPARE(sensor.model().registerValue(entry.reg).value_or(0), stored);
    // The address the tool uses changes only through a scan.
    QCOMPARE(int(sharedState.slaveAddress.load()), 1);
    QCOMPARE(session->text("lable_send_counter").toUInt(), sentBefore + 8);
    QCOMPARE(session->text("lable_receive_counter_2").toUInt(), receivedBefore + 8);
}

void RegistersTest::readFailures_data() {
    QTest::addColumn<FaultSpec>("fault");
    QTest::addColumn<QByteArray>("received");
    const QByteArray good = withCrc(bytes("010302000A"));
    QByteArray badCrc = good;
    badCrc[badCrc.size() - 1] = char(badCrc[badCrc.size() - 1] ^ 0xFF);
    QTest::newRow("no reply") << FaultSpec::of(Fault::NoReply) << QByteArray();
    QTest::newRow("bad CRC") << FaultSpec::of(Fault::BadCrc) << badCrc;
    QTest::newRow("one data byte")
        << FaultSpec::raw(withCrc(bytes("0103010A"))) << withCrc(bytes("0103010A"));
    QTest::newRow("no data bytes")
        << FaultSpec::raw(withCrc(bytes("010300"))) << withCrc(bytes("010300"));
    QTest::newRow("exception reply") << FaultSpec::exception(0x02) << withCrc(bytes("018302"));
    // Passes its CRC, but is no answer to a one-register read (an upload, say).
    QTest::newRow("two registers where one was asked")
        << FaultSpec::raw(withCrc(bytes("010304000A000B"))) << withCrc(bytes("010304000A000B"));
}

void RegistersTest::readFailures() {
    QFETCH(FaultSpec, fault);
    QFETCH(QByteArray, received);
    SimulatedSensor &sensor = session->sensor();
    sensor.model().setRegister(106, 10);
    session->setText("lineEdit_update_time", QStringLiteral("10"));
    sharedState.updateTime.store(10);
    sensor.queueFault(fault);
    const int first = session->logLineCount();

    session->click("read_update_time");

    QVERIFY(session->waitForLogLine(QStringLiteral("读取失败！"), first) >= 0);
    QCOMPARE(session->logLinesFrom(first),
             (QStringList{"Send: " + dump(readRequestFrame(1, 106)), "Receive: " + dump(received),
                          QStringLiteral("读取失败！")}));
    // The field is zeroed; the entry keeps what the operator saw.
    QCOMPARE(sharedState.updateTime.load(), 0);
    QCOMPARE(session->text("lineEdit_update_time"), QStringLiteral("10"));
}

void RegistersTest::writeFailures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<FaultSpec>("fault");
    QTest::addColumn<QString>("message");
    const QString failed = QStringLiteral("写入失败！");
    const QString changeBaudRate = QStringLiteral("请改变波特率，然后重新打开串口！");
    QTest::newRow("no reply") << "upload interval"
                              << "60" << FaultSpec::of(Fault::NoReply) << failed;
    QTest::newRow("bad CRC") << "upload interval"
                             << "60" << FaultSpec::of(Fault::BadCrc) << failed;
    QTest::newRow("wrong echo") << "upload interval"
                                << "60" << FaultSpec::of(Fault::WrongEcho) << failed;
    QTest::newRow("short echo") << "upload interval"
                                << "60" << FaultSpec::raw(withCrc(bytes("0106006A00"))) << failed;
    QTest::newRow("baud rate, no reply") << "baud-rate code"
                                         << "4" << FaultSpec::of(Fault::NoReply) << changeBaudRate;
    QTest::newRow("baud rate, bad CRC") << "baud-rate code"
                                        << "4" << FaultSpec::of(Fault::BadCrc) << changeBaudRate;
    QTest::newRow("baud rate, wrong echo")
        << "baud-rate code"
        << "4" << FaultSpec::of(Fault::WrongEcho) << changeBaudRate;
}

void RegistersTest::writeFailures() {
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(FaultSpec, fault);
    QFETCH(QString, message);
    const Register &entry = registerNamed(name);
    session->setText(entry.field, typed);
    session->sensor().queueFault(fault);
    const int first = session->logLineCount();

    session->click(entry.writeButton);

    QVERIFY(session->waitForLogLine(message, first) >= 0);
    session->waitTicks(2);
    const QStringList lines = session->logLinesFrom(first);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0],
             "Send: " + dump(writeRequestFrame(1, entry.reg,
                                               bytes("00") + QByteArray(1, char(typed.toInt())))));
    QVERIFY(lines[1].startsWith(QStringLiteral("Receive: ")));
    QCOMPARE(lines[2], message);
}

void RegistersTest::rangeLimits_data() {
    QTest::addColumn<QString>("name");
    for (const Register &entry : kRegisters)
        QTest::newRow(entry.name) << QString::fromLatin1(entry.name);
}

void RegistersTest::rangeLimits() {
    QFETCH(QString, name);
    const Register &entry = registerNamed(name);
    const QString rangeMessage = QStringLiteral("写入参数范围错误！");
    struct Attempt {
        int value;
        bool accepted;
    };
    const Attempt attempts[] = {
        {entry.minimum, true},      {entry.maximum, true}, {entry.minimum - 1, false},
        {entry.maximum + 1, false}, {70000, false},        {-70000, false}};
    for (const Attempt &attempt : attempts) {
        // The worker is between runs and the next one starts only on a tick, which cannot
        // come before this check: what the click posted is still there to see.
        QVERIFY(session->waitForIdleWorker());
        sharedState.commandCode.store(Idle);
        sharedState.writeValue[0].store(0xAA);
        sharedState.writeValue[1].store(0x55);
        session->setText(entry.field, QString::number(attempt.value));
        const int first = session->logLineCount();

        session->click(entry.writeButton);

        const QString what = QStringLiteral("%1 typed %2").arg(name).arg(attempt.value);
        if (!buttonWorks(entry) || !attempt.accepted) {
            QVERIFY2(sharedState.commandCode.load() == Idle, qPrintable(what));
            QVERIFY2(sharedState.writeValue[0].load() == 0xAA &&
                         sharedState.writeValue[1].load() == 0x55,
                     qPrintable(what));
            const QStringList expected =
                buttonWorks(entry) ? QStringList{rangeMessage} : QStringList{};
            QVERIFY2(session->logLinesFrom(first) == expected, qPrintable(what));
        } else {
            QVERIFY2(sharedState.commandCode.load() == entry.writeCode, qPrintable(what));
            const auto pattern = std::uint16_t(attempt.value);
            QVERIFY2(sharedState.writeValue[0].load() == (pattern >> 8), qPrintable(what));
            QVERIFY2(sharedState.writeValue[1].load() == (pattern & 0xFF), qPrintable(what));
            QVERIFY2(session->logLinesFrom(first).isEmpty(), qPrintable(what));
        }
        // Nothing of this goes on the wire.
        sharedState.commandCode.store(Idle);
    }
}

void RegistersTest::typedTexts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("pattern");
    // The model code accepts 0, so these would be written as 0 if unreadable text counted as 0.
    const QString modelCode = QStringLiteral("model code");
    QTest::newRow("empty") << modelCode << "" << false << 0;
    QTest::newRow("blank") << modelCode << " " << false << 0;
    QTest::newRow("trailing letters") << modelCode << "12abc" << false << 0;
    QTest::newRow("fraction") << modelCode << "1.5" << false << 0;
    QTest::newRow("letters") << modelCode << "abc" << false << 0;
    QTest::newRow("hex") << modelCode << "0x10" << false << 0;
    QTest::newRow("exponent") << modelCode << "1e3" << false << 0;
    QTest::newRow("two numbers") << modelCode << "12 3" << false << 0;
    QTest::newRow("full-width digit") << modelCode << QStringLiteral("７") << false << 0;
    QTest::newRow("beyond 32 bits") << modelCode << "4294967296" << false << 0;
    QTest::newRow("empty, device address") << "device address"
                                           << "" << false << 0;
    QTest::newRow("empty, baud-rate code") << "baud-rate code"
                                           << "" << false << 0;
    QTest::newRow("surrounding blanks") << modelCode << " 12 " << true << 12;
    QTest::newRow("plus sign") << modelCode << "+12" << true << 12;
    QTest::newRow("leading zeros") << modelCode << "0012" << true << 12;
    QTest::newRow("zero") << modelCode << "0" << true << 0;
    QTest::newRow("negative offset") << "temperature offset"
                                     << "-1000" << true << 0xFC18;
    QTest::newRow("negative offset, blanks") << "humidity offset"
                                             << " -7 " << true << 0xFFF9;
}

void RegistersTest::typedTexts() {
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QFETCH(int, pattern);
    const Register &entry = registerNamed(name);
    sharedState.commandCode.store(Idle);
    session->setText(entry.field, typed);
    const int first = session->logLineCount();

    session->click(entry.writeButton);

    if (accepted) {
        QCOMPARE(sharedState.commandCode.load(), entry.writeCode);
        QCOMPARE(int(sharedState.writeValue[0].load()), pattern >> 8);
        QCOMPARE(int(sharedState.writeValue[1].load()), pattern & 0xFF);
        QCOMPARE(session->logLinesFrom(first), QStringList());
    } else {
        QCOMPARE(sharedState.commandCode.load(), std::uint32_t(Idle));
        QCOMPARE(session->logLinesFrom(first), QStringList{QStringLiteral("写入参数范围错误！")});
    }
    sharedState.commandCode.store(Idle);
}

void RegistersTest::twoPostsBeforeARunGiveOneTransaction() {
    SimulatedSensor &sensor = session->sensor();
    sensor.model().setRegister(106, 77);
    session->setText("lineEdit_test_amount", QStringLiteral("old"));
    session->setText("lineEdit_update_time", QStringLiteral("old"));
    const int first = session->logLineCount();

    session->click("read_test_amount");
    session->click("read_update_time");

    QVERIFY(session->waitForLogLine(QStringLiteral("读取成功！"), first) >= 0);
    session->waitTicks(3);
    QCOMPARE(sensor.exchanges().size(), std::size_t(1));
    QCOMPARE(sensor.exchanges().front().request, readRequestFrame(1, 106));
    QCOMPARE(session->logLinesFrom(first).count(QStringLiteral("读取成功！")), 1);
    QCOMPARE(session->text("lineEdit_update_time"), QStringLiteral("77"));
    QCOMPARE(session->text("lineEdit_test_amount"), QStringLiteral("old"));
}

void RegistersTest::postsWhileClosedAreCarriedOutAfterOpening() {
    SimulatedSensor &sensor = session->sensor();
    session->click("connect_button");
    QVERIFY(!serialPort->isOpen.load());
    session->setText("lineEdit_update_time", QStringLiteral("old"));
    session->setText("lineEdit_serial_number", QStringLiteral("4660"));
    int first = session->logLineCount();

    // A read, then a write: the write replaces the read in the single slot.
    session->click("read_update_time");
    session->click("write_serial_number");
    session->waitTicks(3);
    QCOMPARE(session->logLinesFrom(first), QStringList());
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(WriteSerialNumber));
    QVERIFY(sensor.exchanges().empty());

    QVERIFY(session->openPort());
    QVERIFY(session->waitForLogLine(QStringLiteral("写入成功！"), first) >= 0);
    session->waitTicks(3);
    QCOMPARE(sensor.exchanges().size(), std::size_t(1));
    QCOMPARE(sensor.exchanges().front().request, writeRequestFrame(1, 100, bytes("1234")));
    QCOMPARE(sensor.model().registerValue(100).value_or(0), std::uint16_t(0x1234));
    QCOMPARE(session->text("lineEdit_update_time"), QStringLiteral("old"));

    // A read pressed while closed: silent until the port opens, then read and shown.
    session->click("connect_button");
    sensor.clearExchanges();
    sensor.model().setRegister(106, 321);
    first = session->logLineCount();
    session->click("read_update_time");
    session->waitTicks(2);
    QCOMPARE(session->logLinesFrom(first), QStringList());
    QVERIFY(session->openPort());
    QVERIFY(session->waitForLogLine(QStringLiteral("读取成功！"), first) >= 0);
    QCOMPARE(session->text("lineEdit_update_time"), QStringLiteral("321"));
    QCOMPARE(sensor.exchanges().size(), std::size_t(1));
}

QTEST_MAIN(RegistersTest)
#include "tst_window_registers.moc"
