// Opening and closing the port and scanning for the sensor, through the window's widgets.
#include <QComboBox>
#include <QSerialPort>
#include <QtTest>

#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "support/ops_session.h"
#include "transport/serial.h"

namespace {

QWidget *newWindow() {
    return new MainWindow;
}

QByteArray bytes(const char *hex) {
    return QByteArray::fromHex(hex);
}

}  // namespace

class ConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void openAtEachBaudRate_data();
    void openAtEachBaudRate();
    void failedOpen_data();
    void failedOpen();
    void closeKeepsTotalsAndStopsAcquisition();
    void scan_data();
    void scan();
    void requestsGoToAddressZeroUntilAScanSucceeds();
    void readDeviceAddressScansAndTakesTheRepliedAddress();
    void framesSentUnaskedAreCountedAndLoggedOnce();
};

void ConnectionTest::openAtEachBaudRate_data() {
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("replyWaitMs");
    QTest::newRow("2400") << 2400 << 250;
    QTest::newRow("4800") << 4800 << 130;
    QTest::newRow("9600") << 9600 << 70;
    QTest::newRow("19200") << 19200 << 40;
    QTest::newRow("38400") << 38400 << 25;
    QTest::newRow("57600") << 57600 << 20;
    QTest::newRow("115200") << 115200 << 15;
}

void ConnectionTest::openAtEachBaudRate() {
    QFETCH(int, baudRate);
    QFETCH(int, replyWaitMs);
    OpsSession session(newWindow);
    QVERIFY(session.isValid());

    session.pressConnect(baudRate);

    QCOMPARE(session.logLines(), QStringList{QStringLiteral("串口打开成功！")});
    QCOMPARE(int(serialPort->replyWaitMs.load()), replyWaitMs);
    QVERIFY(serialPort->isOpen.load());
    QCOMPARE(session.text("connect_button"), QStringLiteral("关闭串口"));
    QCOMPARE(serialPort->txByteCount.load(), 0u);
    QCOMPARE(serialPort->rxByteCount.load(), 0u);
}

void ConnectionTest::failedOpen_data() {
    QTest::addColumn<QString>("port");  // empty: the sensor's
    QTest::addColumn<QString>("baudRate");
    QTest::newRow("no such port") << "/dev/no-such-serial-port"
                                  << "9600";
    // The port opens, but the rate is refused: the line would talk at another.
    QTest::newRow("rate refused") << ""
                                  << "0";
}

void ConnectionTest::failedOpen() {
    QFETCH(QString, port);
    QFETCH(QString, baudRate);
    OpsSession session(newWindow);
    QVERIFY(session.isValid());
    auto *ports = session.widget<QComboBox>("com_port");
    ports->addItem(port.isEmpty() ? session.sensor().portPath() : port);
    ports->setCurrentIndex(ports->count() - 1);
    auto *baudRates = session.widget<QComboBox>("baud_rate");
    if (baudRates->findText(baudRate) < 0)
        baudRates->addItem(baudRate);
    baudRates->setCurrentIndex(baudRates->findText(baudRate));

    session.click("connect_button");

    QCOMPARE(session.logLines(), QStringList{QStringLiteral("串口打开失败！")});
    QVERIFY(!serialPort->isOpen.load());
    QVERIFY(!serialPort->port->isOpen());
    QCOMPARE(int(serialPort->replyWaitMs.load()), 100);
    QCOMPARE(session.text("connect_button"), QStringLiteral("打开串口"));
    // A scan is refused as with any closed port.
    session.click("scan_button");
    QCOMPARE(session.logLines().last(), QStringLiteral("请先打开串口！"));
    QCOMPARE(sharedState.commandCode.load(), 0u);
    // Nothing is left holding the port.
    QVERIFY(session.openPort());
}

void ConnectionTest::closeKeepsTotalsAndStopsAcquisition() {
    OpsSession session(newWindow);
    QVERIFY(session.isValid());
    QVERIFY(session.openAndScan());
    session.waitTicks(2);
    QCOMPARE(session.text("lable_send_counter"), QStringLiteral("8"));
    QCOMPARE(session.text("lable_receive_counter_2"), QStringLiteral("7"));
    const int first = session.logLineCount();

    session.click("connect_button");

    QCOMPARE(session.logLinesFrom(first),
             (QStringList{QStringLiteral("关闭串口！"), QStringLiteral("停止采集...")}));
    QVERIFY(!serialPort->isOpen.load());
    QCOMPARE(int(serialPort->replyWaitMs.load()), 100);
    QCOMPARE(session.text("connect_button"), QStringLiteral("打开串口"));
    QCOMPARE(sharedState.acquisitionOn.load(), 0);
    session.waitTicks(2);
    QCOMPARE(session.text("lable_send_counter"), QStringLiteral("8"));
    QCOMPARE(session.text("lable_receive_counter_2"), QStringLiteral("7"));

    // The next open zeroes the totals again.
    QVERIFY(session.openPort());
    session.waitTicks(2);
    QCOMPARE(session.text("lable_send_counter"), QStringLiteral("0"));
    QCOMPARE(session.text("lable_receive_counter_2"), QStringLiteral("0"));
}

void ConnectionTest::scan_data() {
    QTest::addColumn<int>("sensorAddress");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<QString>("expectedReceive");
    QTest::addColumn<QString>("expectedMessage");
    QTest::addColumn<QString>("expectedAddressField");
    QTest::addColumn<int>("expectedSlaveAddress");
    // The sensor answers the scan address with its own address and its model code 0x2107.
    QTest::newRow("found at 1") << 1 << true << QStringLiteral("Receive: 01 03 02 21 07 E1 D6 ")
                                << QStringLiteral("获取成功！") << QStringLiteral("1") << 1;
    QTest::newRow("found at 7") << 7 << true << QStringLiteral("Receive: 07 03 02 21 07 69 D6 ")
                                << QStringLiteral("获取成功！") << QStringLiteral("7") << 7;
    QTest::newRow("no reply") << 7 << false << QStringLiteral("Receive: ")
                              << QStringLiteral("获取失败！") << QStringLiteral("keep") << 0;
}

void ConnectionTest::scan() {
    QFETCH(int, sensorAddress);
    QFETCH(bool, answers);
    QFETCH(QString, expectedReceive);
    QFETCH(QString, expectedMessage);
    QFETCH(QString, expectedAddressField);
    QFETCH(int, expectedSlaveAddress);
    OpsSession session(newWindow);
    QVERIFY(session.isValid());
    session.sensor().model().setAddress(std::uint8_t(sensorAddress));
    session.sensor().model().setRegister(SensorModel::kRegSerialNumber, 0x2107);
    if (!answers)
        session.sensor().queueFault(FaultSpec::of(Fault::NoReply));
    session.setText("lineEdit_device_address", QStringLiteral("keep"));
    sharedState.slaveAddress.store(99);  // a stale address: a failed scan must forget it
    QVERIFY(session.openPort());
    const int first = session.logLineCount();

    session.click("scan_button");

    QVERIFY(session.waitForLogLine(expectedMessage, first) >= 0);
    QCOMPARE(session.logLinesFrom(first),
             (QStringList{QStringLiteral("开始扫描传感器..."),
                          QStringLiteral("Send: FA 03 00 64 00 01 D0 5E "), expectedReceive,
                          expectedMessage}));
    QCOMPARE(session.text("lineEdit_device_address"), expectedAddressField);
    QCOMPARE(session.text("device_address"), QString::number(expectedSlaveAddress));
    QCOMPARE(int(sharedState.slaveAddress.load()), expectedSlaveAddress);
    QCOMPARE(sharedState.serialNumber.load(), answers ? 0x2107 : 0);
    QCOMPARE(session.sensor().exchanges().size(), std::size_t(1));
    QCOMPARE(session.sensor().exchanges().front().request, bytes("FA0300640001D05E"));
    session.waitTicks(2);
    QCOMPARE(session.text("lable_send_counter"), QStringLiteral("8"));
    QCOMPARE(session.text("lable_receive_counter_2"), answers ? QStringLiteral("7") : "0");
}

void ConnectionTest::requestsGoToAddressZeroUntilAScanSucceeds() {
    OpsSession session(newWindow);
    QVERIFY(session.isValid());
    QVERIFY(session.openPort());
    QVERIFY(session.waitForIdleWorker());
    int first = session.logLineCount();

    session.click("read_update_time");
    QVERIFY(session.waitForLogLine(QStringLiteral("读取失败！"), first) >= 0);

    // A failed scan falls back to address 0 as well.
    session.sensor().queueFault(FaultSpec::of(Fault::NoReply));
    first = session.logLineCount();
    session.click("scan_button");
    QVERIFY(session.waitForLogLine(QStringLiteral("获取失败！"), first) >= 0);
    first = session.logLineCount();
    session.click("read_update_time");
    QVERIFY(session.waitForLogLine(QStringLiteral("读取失败！"), first) >= 0);

    // Once found, the sensor's own address is used.
    first = session.logLineCount();
    session.click("scan_button");
    QVERIFY(session.waitForLogLine(QStringLiteral("获取成功！"), first) >= 0);
    first = session.logLineCount();
    session.click("read_update_time");
    QVERIFY(session.waitForLogLine(QStringLiteral("读取成功！"), first) >= 0);

    const std::vector<Exchange> exchanges = session.sensor().exchanges();
    QCOMPARE(exchanges.size(), std::size_t(5));
    QCOMPARE(exchanges[0].request, bytes("0003006A0001A5C7"));
    QCOMPARE(exchanges[2].request, withCrc(bytes("0003006A0001")));
    QCOMPARE(exchanges[4].request, withCrc(bytes("0103006A0001")));
}

void ConnectionTest::readDeviceAddressScansAndTakesTheRepliedAddress() {
    OpsSession session(newWindow);
    QVERIFY(session.isValid());
    QVERIFY(session.openAndScan());
    QCOMPARE(session.text("lineEdit_device_address"), QStringLiteral("1"));
    // The sensor has been given another address meanwhile; reading the address finds it.
    session.sensor().model().setAddress(42);
    const int first = session.logLineCount();

    session.click("read_device_address");

    QVERIFY(session.waitForLogLine(QStringLiteral("获取成功！"), first) >= 0);
    QCOMPARE(session.text("lineEdit_device_address"), QStringLiteral("42"));
    QCOMPARE(int(sharedState.slaveAddress.load()), 42);
    QCOMPARE(session.sensor().exchanges().front().request, bytes("FA0300640001D05E"));
}

void ConnectionTest::framesSentUnaskedAreCountedAndLoggedOnce() {
    OpsSession session(newWindow);
    QVERIFY(session.isValid());
    QVERIFY(session.openPort());
    SimulatedSensor &sensor = session.sensor();
    const int first = session.logLineCount();

    // A sensor in upload mode, the port open and idle.
    sensor.setUploadInterval(100);
    session.waitTicks(15);
    sensor.setUploadInterval(0);
    session.waitTicks(3);

    const std::uint64_t sent = sensor.uploadedBytes();
    QVERIFY(sent >= 9 * 5);
    QCOMPARE(session.text("lable_receive_counter_2"), QString::number(sent));
    QCOMPARE(session.text("lable_send_counter"), QStringLiteral("0"));
    QByteArray logged;
    for (const QString &line : session.logLinesFrom(first)) {
        if (line.startsWith(QStringLiteral("Receive: ")))
            logged += QByteArray::fromHex(line.mid(9).toLatin1());
        else
            QCOMPARE(line, QStringLiteral("Send: "));
    }
    QCOMPARE(logged, sensor.uploadFrame().repeated(int(sent / 9)));
    // Nothing of it waits in the buffer a transaction reads.
    QVERIFY(serialPort->rxBufferSnapshot().isEmpty());
}

QTEST_MAIN(ConnectionTest)
#include "tst_e2e_connection.moc"
