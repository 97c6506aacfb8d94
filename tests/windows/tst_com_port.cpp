// The window on a serial port the system lists, against a sensor outside the process: under
// Wine, a COM port whose other end is sensor_simulator on a pseudo-terminal. The expectations
// are the Linux end-to-end tests': the port in the list, open, scan, reads and writes with
// their log lines, acquisition at 0.1 s with every read-out right on every tick, the byte
// counters, each read within a bound of its fixed wait; a port held elsewhere, closing the
// window, and the adapter pulled.
//
//   tst_com_port --simulator-options      the options sensor_simulator has to be started with
//   tst_com_port -port COM5 [-pulled FILE] [-screenshot FILE.png] [QtTest options]
//
// With -pulled, the last test creates FILE and waits for the sensor to go away: the harness
// then ends the simulator, as pulling the adapter would. -screenshot saves the window during
// acquisition, on the chart's tab.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QtCharts/QLineSeries>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h, whose types it uses.
#include <dbt.h>
#endif

#include "app/connection.h"
#include "app/mainwindow.h"
#include "rtu/rtumaster.h"
#include "rtu/waitresolution.h"
#include "sensor/sharedstate.h"
#include "transport/mytimer.h"
#include "transport/serial.h"

namespace {

QString portName;
QString pulledSignalFile;
QString screenshotFile;
#ifdef Q_OS_WIN
// Where Windows lists the serial ports present: each value a device, its data a port name.
// (QSettings takes the backslashes in the value names for key separators.)
const wchar_t kDeviceMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool setDeviceMapEntry(const wchar_t *device, const QString &port) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDeviceMap, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring data = port.toStdWString();
    const LONG result =
        RegSetValueExW(key, device, 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// Removes every device listed under `port`; how many there were.
int removeDeviceMapEntries(const QString &port) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeviceMap, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    std::vector<std::wstring> devices;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        wchar_t data[256];
        DWORD nameLength = 256;
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE *>(data), &dataSize) != ERROR_SUCCESS)
            break;
        if (type == REG_SZ && QString::fromWCharArray(data) == port)
            devices.emplace_back(name, nameLength);
    }
    for (const std::wstring &device : devices)
        RegDeleteValueW(key, device.c_str());
    RegCloseKey(key);
    return int(devices.size());
}
#endif

constexpr int kBaudRate = 115200;
constexpr int kSensorAddress = 7;

// What the simulator is started with, and what the window must then show.
struct Preset {
    int reg;
    int value;
};
constexpr Preset kPresets[] = {
    {0, 12},  {1, -500},  {2, 4550},  {3, 1},      {112, 777},  {100, 4711}, {101, 3},
    {103, 6}, {106, 300}, {108, -25}, {111, 1200}, {113, 4000}, {255, 2},
};

QString simulatorOptions() {
    QStringList options{QStringLiteral("--frozen"),  QStringLiteral("--quiet"),
                        QStringLiteral("--baud"),    QString::number(kBaudRate),
                        QStringLiteral("--address"), QString::number(kSensorAddress)};
    for (const Preset &preset : kPresets)
        options << QStringLiteral("--set")
                << QStringLiteral("%1=%2").arg(preset.reg).arg(preset.value);
    return options.join(QLatin1Char(' '));
}

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

class TestComPort : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> window;
    std::atomic<int> ticks{0};

    template <typename T>
    T *widget(const char *name) {
        return window->findChild<T *>(QLatin1String(name));
    }
    QString text(const char *name) {
        if (auto *edit = widget<QLineEdit>(name))
            return edit->text();
        return widget<QWidget>(name)->property("text").toString();
    }
    void click(const char *name) { widget<QAbstractButton>(name)->click(); }
    QStringList logLines() {
        const QString all = widget<QTextEdit>("textEdit")->toPlainText();
        return all.isEmpty() ? QStringList() : all.split(QLatin1Char('\n'));
    }
    // Waits for `line` at or after `first`; what came instead goes into the failure message.
    bool waitForLine(const QString &line, int first, int timeoutMs = 5000) {
        if (QTest::qWaitFor([&] { return logLines().indexOf(line, first) >= 0; }, timeoutMs))
            return true;
        qWarning("waited %d ms for \"%s\"; the log since: %s", timeoutMs, qUtf8Printable(line),
                 qUtf8Printable(logLines().mid(first).join(QStringLiteral(" | "))));
        return false;
    }
    void makeWindow() {
        window.reset();  // the program-wide objects are one set: the old window first
        resetSharedState();
        ticks = 0;
        window = std::make_unique<MainWindow>();
        window->show();
        connect(tickTimer, &MyTimer::handleTimeout, window.get(), [this] { ++ticks; });
        QVERIFY(QTest::qWaitFor([this] { return ticks.load() >= 1; }, 5000));
    }
    void openFromList() {
        auto *ports = widget<QComboBox>("com_port");
        const int index = ports->findText(portName);
        QVERIFY2(index >= 0,
                 qPrintable(QStringLiteral("%1 is not in the port list: %2").arg(portName, [&] {
                     QStringList names;
                     for (int i = 0; i < ports->count(); ++i)
                         names << ports->itemText(i);
                     return names.join(QLatin1Char(' '));
                 }())));
        ports->setCurrentIndex(index);
        auto *rates = widget<QComboBox>("baud_rate");
        rates->setCurrentIndex(rates->findText(QString::number(kBaudRate)));
        const int first = logLines().size();
        click("connect_button");
        QVERIFY(waitForLine(QStringLiteral("串口打开成功！"), first));
        QCOMPARE(text("connect_button"), QStringLiteral("关闭串口"));
    }

private slots:
    void initTestCase() {
        QVERIFY2(!portName.isEmpty(), "give the port with -port NAME");
        makeWindow();
    }

    void portIsListedAsWindowsNamesIt() {
        QStringList names;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            names << info.portName();
        QVERIFY2(names.contains(portName), qPrintable(names.join(QLatin1Char(' '))));
        for (const QString &name : names)
            QVERIFY2(QRegularExpression(QStringLiteral("^COM[1-9][0-9]*$")).match(name).hasMatch(),
                     qPrintable(name));
        // The window reads the list on every tick here: what that costs, for the record.
        QElapsedTimer timer;
        timer.start();
        constexpr int kCalls = 50;
        for (int i = 0; i < kCalls; ++i)
            (void)QSerialPortInfo::availablePorts();
        qInfo("port list: %.2f ms a call (%d calls)", double(timer.nsecsElapsed()) / 1e6 / kCalls,
              kCalls);
    }

    // What Windows does when an adapter is plugged in or pulled: the port appears in (or leaves)
    // the registry's device map, and every top-level window gets WM_DEVICECHANGE.
    void portListFollowsDevices() {
#ifdef Q_OS_WIN
        const QString plugged = QStringLiteral("COM12");
        auto *ports = widget<QComboBox>("com_port");
        const auto listed = [ports](const QString &name) { return ports->findText(name) >= 0; };
        const auto deviceChange = [this] {
            SendMessageW(HWND(window->winId()), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        };

        QVERIFY2(setDeviceMapEntry(L"\\Device\\WorkbenchTest12", plugged),
                 "cannot write the device map");
        // The list is not read on every tick: nothing has said a device came.
        int until = ticks + 5;
        QVERIFY(QTest::qWaitFor([&] { return ticks >= until; }, 5000));
        QVERIFY(!listed(plugged));
        deviceChange();
        QVERIFY2(QTest::qWaitFor([&] { return listed(plugged); }, 3000), "COM12 not listed");

        QCOMPARE(removeDeviceMapEntries(plugged), 1);
        deviceChange();
        QVERIFY2(QTest::qWaitFor([&] { return !listed(plugged); }, 3000), "COM12 still listed");
        QVERIFY(listed(portName));
#else
        QSKIP("Windows only");
#endif
    }

    void heldPortFailsToOpen() {
        // Another program's handle: Windows opens a COM port for one handle at a time.
        QSerialPort other(portName);
        QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
        QSerialPort probe(portName);
        if (probe.open(QIODevice::ReadWrite)) {
            probe.close();
            other.close();
            QSKIP("this system opens a held COM port a second time (Wine does; Windows not)");
        }
        auto *ports = widget<QComboBox>("com_port");
        ports->setCurrentIndex(ports->findText(portName));
        const int first = logLines().size();
        click("connect_button");
        QVERIFY(waitForLine(QStringLiteral("串口打开失败！"), first));
        QCOMPARE(text("connect_button"), QStringLiteral("打开串口"));
        other.close();
    }

    void openAndScan() {
        openFromList();
        const int first = logLines().size();
        click("scan_button");
        QVERIFY(waitForLine(QStringLiteral("获取成功！"), first));
        QCOMPARE(text("lineEdit_device_address"), QString::number(kSensorAddress));
        QCOMPARE(text("device_address"), QString::number(kSensorAddress));
    }

    void readRegister_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("shown");
        QTest::newRow("model code") << "read_serial_number"
                                    << "lineEdit_serial_number"
                                    << "4711";
        QTest::newRow("measuring points, low byte") << "read_test_amount"
                                                    << "lineEdit_test_amount"
                                                    << "3";
        QTest::newRow("baud-rate code") << "read_baud_rate"
                                        << "lineEdit_baud_rate"
                                        << "6";
        QTest::newRow("upload interval") << "read_update_time"
                                         << "lineEdit_update_time"
                                         << "300";
        QTest::newRow("negative offset") << "read_tem_offset"
                                         << "lineEdit_tem_offset_value"
                                         << "-25";
        QTest::newRow("alarm value") << "read_smoke_warning"
                                     << "lineEdit_smoke_warning"
                                     << "1200";
        QTest::newRow("AD maximum") << "read_ad_max"
                                    << "line_edit_ad_max"
                                    << "4000";
        QTest::newRow("output type") << "read_output_change"
                                     << "line_edit_output_change"
                                     << "2";
    }
    void readRegister() {
        QFETCH(QString, button);
        QFETCH(QString, field);
        QFETCH(QString, shown);
        widget<QLineEdit>(qPrintable(field))->clear();
        const int first = logLines().size();
        click(qPrintable(button));
        QVERIFY(waitForLine(QStringLiteral("读取成功！"), first));
        QCOMPARE(text(qPrintable(field)), shown);
        QVERIFY(!logLines().mid(first).contains(QStringLiteral("读取失败！")));
    }

    void writeThenReadBack_data() {
        QTest::addColumn<QString>("register_");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("sent");
        QTest::newRow("upload interval") << "update_time"
                                         << "35999"
                                         << "07 06 00 6A 8C 9F 8D 18 ";
        QTest::newRow("negative offset") << "tem_offset"
                                         << "-1000"
                                         << "07 06 00 6C FC 18 08 BB ";
    }
    void writeThenReadBack() {
        QFETCH(QString, register_);
        QFETCH(QString, value);
        QFETCH(QString, sent);
        const QString field = register_ == QLatin1String("tem_offset")
                                  ? QStringLiteral("lineEdit_tem_offset_value")
                                  : QStringLiteral("lineEdit_") + register_;
        widget<QLineEdit>(qPrintable(field))->setText(value);
        int first = logLines().size();
        click(qPrintable(QStringLiteral("write_") + register_));
        QVERIFY(waitForLine(QStringLiteral("写入成功！"), first));
        // The request and its echo, as the log shows them.
        const QStringList lines = logLines().mid(first);
        QVERIFY2(lines.contains(QStringLiteral("Send: ") + sent),
                 qPrintable(lines.join(QLatin1Char('|'))));
        QVERIFY2(lines.contains(QStringLiteral("Receive: ") + sent),
                 qPrintable(lines.join(QLatin1Char('|'))));
        widget<QLineEdit>(qPrintable(field))->clear();
        first = logLines().size();
        click(qPrintable(QStringLiteral("read_") + register_));
        QVERIFY(waitForLine(QStringLiteral("读取成功！"), first));
        QCOMPARE(text(qPrintable(field)), value);
    }

    void outOfRangeIsRefusedBeforeTheBus() {
        const QString before = text("lable_send_counter");
        widget<QLineEdit>("lineEdit_update_time")->setText(QStringLiteral("36000"));
        const int first = logLines().size();
        click("write_update_time");
        QCOMPARE(logLines().mid(first), QStringList{QStringLiteral("写入参数范围错误！")});
        const int until = ticks + 3;
        QVERIFY(QTest::qWaitFor([&] { return ticks >= until; }, 3000));
        QCOMPARE(text("lable_send_counter"), before);
    }

    // Every tick from the first sample on shows each register's own value, or 0 where its
    // read failed in that cycle; never another register's value. Reads fail when the window's
    // thread gathers a reply after its wait, which the design admits; under Wine, whose
    // painting is slow on a loaded machine, it happened on up to a fifth of the ticks here.
    void acquisitionAtTheShortestPeriod() {
        widget<QLineEdit>("line_time")->setText(QStringLiteral("0.1"));
        const int first = logLines().size();
        const quint64 sentBefore = text("lable_send_counter").toULongLong();
        click("connect_button_2");
        QVERIFY(waitForLine(QStringLiteral("开始采集..."), first));

        const QStringList names{QStringLiteral("smoke_vallue"), QStringLiteral("tem_value"),
                                QStringLiteral("hum_vallue"), QStringLiteral("alarm_status"),
                                QStringLiteral("smoke_ad_value")};
        const QStringList expected{QStringLiteral("12 PPM"), QStringLiteral("-5 ℃"),
                                   QStringLiteral("45.5 RH%"), QStringLiteral("1"),
                                   QStringLiteral("777")};
        const QStringList failed{QStringLiteral("0 PPM"), QStringLiteral("0 ℃"),
                                 QStringLiteral("0 RH%"), QStringLiteral("0"), QStringLiteral("0")};
        int ticksChecked = 0;
        int ticksWithAFailedRead = 0;
        QStringList wrong;
        const auto check = connect(tickTimer, &MyTimer::handleTimeout, window.get(), [&] {
            if (temSeries->count() == 0)
                return;
            ++ticksChecked;
            bool anyFailed = false;
            for (int i = 0; i < names.size(); ++i) {
                const QString shown = text(qPrintable(names[i]));
                if (shown == failed[i])
                    anyFailed = true;
                else if (shown != expected[i])
                    wrong << names[i] + QLatin1Char('=') + shown;
            }
            ticksWithAFailedRead += anyFailed ? 1 : 0;
        });
        constexpr int kTicks = 40;
        const int until = ticks + kTicks;
        QVERIFY(QTest::qWaitFor([&] { return ticks >= until; }, kTicks * 100 * 5));
        disconnect(check);
        if (!screenshotFile.isEmpty()) {  // the chart as it is drawn, for the README
            widget<QTabWidget>("tabWidget")->setCurrentIndex(1);
            QTest::qWait(300);
            QVERIFY(window->grab().save(screenshotFile, "png"));
            widget<QTabWidget>("tabWidget")->setCurrentIndex(0);
        }
        click("scan_button_2");

        qInfo("acquisition at 0.1 s: %d ticks checked, %d of them with a failed read", ticksChecked,
              ticksWithAFailedRead);
        QVERIFY2(wrong.isEmpty(), qUtf8Printable(wrong.join(QStringLiteral(" | "))));
        // The first few ticks pass before the first sample.
        QVERIFY2(ticksChecked >= kTicks - 5, qPrintable(QString::number(ticksChecked)));
        // Most reads succeed, or the line is not usable at all.
        QVERIFY2(ticksWithAFailedRead <= ticksChecked / 2,
                 qPrintable(QString::number(ticksWithAFailedRead)));
        const QStringList lines = logLines().mid(first);
        QVERIFY(!lines.contains(QStringLiteral("读取失败！")));
        QVERIFY(lines.contains(QStringLiteral("Send: 07 03 00 70 00 01 85 B7 ")));
        QVERIFY(lines.contains(QStringLiteral("Receive: 07 03 02 03 09 F0 B2 ")));
        // Each presented cycle adds its last request (8 bytes) to the sent counter.
        const int cycles = int(lines.count(QStringLiteral("Send: 07 03 00 70 00 01 85 B7 ")));
        QVERIFY2(cycles >= kTicks / 4, qPrintable(QString::number(cycles)));
        QCOMPARE(text("lable_send_counter").toULongLong(), sentBefore + 8ULL * quint64(cycles));
        QVERIFY(lines.contains(QStringLiteral("停止采集...")));
    }

    void closingTheWindowClosesThePort() {
        window.reset();
        QSerialPort again(portName);
        QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
    }

    // The reads on their own, as the program does them: a worker thread reads while this
    // thread gathers the replies in its event loop.
    void readTimeAgainstTheFixedWait() {
        Serial serial;
        connect(serial.port, &QSerialPort::readyRead, &serial, &Serial::readData);
        QVERIFY(serial.openPort(portName, kBaudRate));
        serial.isOpen = true;
        const int waitMs = replyWaitForBaudRate(kBaudRate);
        serial.replyWaitMs = std::uint8_t(waitMs);
        RtuMaster master(serial);

        constexpr int kReads = 100;
        std::vector<double> durations;
        std::atomic<int> failed{0};
        std::atomic<bool> done{false};
        std::unique_ptr<QThread> reader(QThread::create([&] {
            for (int i = 0; i < kReads; ++i) {
                std::uint8_t data[256] = {};
                std::uint8_t count = 0;
                const Clock::time_point start = Clock::now();
                if (master.readRegisters(kSensorAddress, 0, 1, data, &count) != 1 || data[1] != 12)
                    ++failed;
                durations.push_back(msBetween(start, Clock::now()));
            }
            done = true;
        }));
        reader->start();
        QVERIFY(QTest::qWaitFor([&] { return done.load(); }, kReads * 1000));
        reader->wait();
        serial.isOpen = false;
        serial.closePort();

        QCOMPARE(failed.load(), 0);
        // The wait alone, as RtuMaster waits (a condition variable with a timeout), while the
        // process holds FineWaitResolution as the master does.
        std::vector<double> waits;
        {
            const FineWaitResolution resolution;
            std::mutex mutex;
            std::condition_variable never;
            for (int i = 0; i < 50; ++i) {
                std::unique_lock<std::mutex> lock(mutex);
                const Clock::time_point start = Clock::now();
                never.wait_for(lock, std::chrono::milliseconds(waitMs), [] { return false; });
                waits.push_back(msBetween(start, Clock::now()));
            }
        }
        std::sort(waits.begin(), waits.end());
        qInfo("a %d ms wait alone: shortest %.1f ms, median %.1f ms, longest %.1f ms", waitMs,
              waits.front(), waits[waits.size() / 2], waits.back());
        std::sort(durations.begin(), durations.end());
        const double median = durations[durations.size() / 2];
        const double longest = durations.back();
        qInfo(
            "reads at %d baud, fixed wait %d ms: shortest %.1f ms, median %.1f ms, "
            "95th %.1f ms, longest %.1f ms (%d reads)",
            kBaudRate, waitMs, durations.front(), median, durations[durations.size() * 95 / 100],
            longest, kReads);
        // Never shorter than the wait; a system timer of 15.6 ms would make the 15 ms wait
        // last about 31 ms, and the median shows that whatever else the machine does.
        QVERIFY(durations.front() >= waitMs - 0.5);
        QVERIFY2(median < waitMs + 8.0, qPrintable(QString::number(median)));
    }

    void pulledAdapterIsReported() {
        if (pulledSignalFile.isEmpty())
            QSKIP("no -pulled FILE: the harness does not pull the adapter");
        makeWindow();
        openFromList();
        const int first = logLines().size();
        // Pulling an adapter: its driver fails the I/O, the port leaves the device map, and
        // Windows sends WM_DEVICECHANGE. The simulator's end gives the first; the test does
        // the other two, which Wine does not do for a pseudo-terminal.
        QFile signal(pulledSignalFile);
        QVERIFY(signal.open(QIODevice::WriteOnly));
        signal.close();
#ifdef Q_OS_WIN
        QCOMPARE(removeDeviceMapEntries(portName), 1);
        SendMessageW(HWND(window->winId()), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
#endif
        QVERIFY(waitForLine(QStringLiteral("串口已断开，请关闭后重新打开"), first, 15000));
        QCOMPARE(text("connect_button"), QStringLiteral("关闭串口"));
        QCOMPARE(logLines().mid(first).count(QStringLiteral("串口已断开，请关闭后重新打开")), 1);
        const int closing = logLines().size();
        click("connect_button");
        QVERIFY(waitForLine(QStringLiteral("关闭串口！"), closing));
        window.reset();
    }

    void cleanupTestCase() {
        window.reset();
    }
};

int main(int argc, char *argv[]) {
    QStringList qtTestArguments;
    for (int i = 0; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--simulator-options")) {
            std::printf("%s\n", qPrintable(simulatorOptions()));
            return 0;
        }
        if (argument == QLatin1String("-port") && i + 1 < argc) {
            portName = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == QLatin1String("-pulled") && i + 1 < argc) {
            pulledSignalFile = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == QLatin1String("-screenshot") && i + 1 < argc) {
            screenshotFile = QString::fromLocal8Bit(argv[++i]);
        } else {
            qtTestArguments << argument;
        }
    }
    std::vector<QByteArray> kept;
    for (const QString &argument : qtTestArguments)
        kept.push_back(argument.toLocal8Bit());
    std::vector<char *> keptArgv;
    for (QByteArray &argument : kept)
        keptArgv.push_back(argument.data());
    int keptArgc = int(keptArgv.size());
    QApplication application(keptArgc, keptArgv.data());
    TestComPort test;
    return QTest::qExec(&test, keptArgc, keptArgv.data());
}

#include "tst_com_port.moc"
