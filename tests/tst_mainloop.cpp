// The main loop's pieces on their own: frame dumps, result lines, read-outs, the chart step,
// and the rules that turn typed text into an acquisition period.
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTextEdit>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtTest>

#include <cmath>
#include <limits>

#include "app/charts.h"
#include "sensor/acquisition.h"
#include "sensor/mainloop.h"
#include "sensor/registermap.h"
#include "sensor/sharedstate.h"
#include "transport/serial.h"
#include "ui_mainwindow.h"

namespace {

// A bare form with the chart parts the main loop draws into.
struct ChartBench {
    ChartBench() {
        form.setupUi(&host);
        resetSharedState();
        samples.running = 1;
        samples.periodMs = 1000;
    }

    // The worker has read a temperature and a humidity (registers as they come off the wire).
    void plot(std::int32_t temperature, std::int32_t humidity, std::uint32_t capacity) {
        sharedState.temValue.store(temperature);
        sharedState.humValue.store(humidity);
        samples.sampleReady.store(1);
        plotSample(form, samples, capacity, sharedState, ChartParts{&tem, &hum, &time});
    }

    QMainWindow host;
    MainWindowForm form;
    SampleWindow samples{};
    QLineSeries tem;
    QLineSeries hum;
    QValueAxis time;
};

QStringList lines(const QTextEdit *log) {
    const QString all = log->toPlainText();
    return all.isEmpty() ? QStringList() : all.split(QLatin1Char('\n'));
}

}  // namespace

class MainLoopTest : public QObject {
    Q_OBJECT

private slots:
    void hexDumpFormat_data();
    void hexDumpFormat();
    void resultLines_data();
    void resultLines();
    void hundredths_data();
    void hundredths();
    void decoding_data();
    void decoding();
    void periodFromText_data();
    void periodFromText();
    void capacityForPeriod_data();
    void capacityForPeriod();

    void tickWhileTheWorkerRunsOnlyCounts();
    void presentation_data();
    void presentation();
    void requestWithoutReplyLogsAnEmptyReceiveLine();

    void chartWindowScrollsLikeTheWorkedExample();
    void chartWithoutCapacityShowsNoPointAndReadsNothingOutside();
    void chartWithCapacityOne();
    void negativeTemperatureIsPlottedBelowZero();
    void seriesKeepOnlyTheNewestPoints();
};

void MainLoopTest::hexDumpFormat_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("three bytes") << QByteArray::fromHex("0103AF") << "01 03 AF ";
    QTest::newRow("extremes") << QByteArray::fromHex("00FF7F80") << "00 FF 7F 80 ";
}

void MainLoopTest::hexDumpFormat() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(hexDump(bytes), text);
}

void MainLoopTest::resultLines_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    const QString none;
    const QString readOk = QStringLiteral("读取成功！");
    const QString writeOk = QStringLiteral("写入成功！");
    const QString readFailed = QStringLiteral("读取失败！");
    const QString writeFailed = QStringLiteral("写入失败！");
    const struct {
        int code;
        QString line;
    } rows[] = {{0, none},
                {1, QStringLiteral("获取成功！")},
                {2, readOk},
                {20, readOk},
                {21, readOk},
                {22, none},
                {80, none},
                {81, writeOk},
                {100, writeOk},
                {101, none},
                {119, none},
                {154, none},
                {155, writeFailed},
                {171, writeFailed},
                {174, writeFailed},
                {175, none},
                {233, none},
                {234, readFailed},
                {253, readFailed},
                {254, QStringLiteral("获取失败！")},
                {255, QStringLiteral("请改变波特率，然后重新打开串口！")}};
    for (const auto &row : rows)
        QTest::addRow("%d", row.code) << row.code << row.line;
}

void MainLoopTest::resultLines() {
    QFETCH(int, code);
    QFETCH(QString, line);
    QCOMPARE(resultMessage(std::uint8_t(code)), line);
}

void MainLoopTest::hundredths_data() {
    QTest::addColumn<int>("registerValue");
    QTest::addColumn<QString>("text");
    QTest::newRow("25.37") << 2537 << "25.37";
    QTest::newRow("-5 (0xFE0C)") << 0xFE0C << "-5";
    QTest::newRow("-2 (0xFF38)") << 0xFF38 << "-2";
    QTest::newRow("zero") << 0 << "0";
    QTest::newRow("largest") << 0x7FFF << "327.67";
    QTest::newRow("smallest") << 0x8000 << "-327.68";
    QTest::newRow("bits above 16 ignored") << 0x1FE0C << "-5";
    QTest::newRow("six digits") << 12345 << "123.45";
}

void MainLoopTest::hundredths() {
    QFETCH(int, registerValue);
    QFETCH(QString, text);
    QCOMPARE(hundredthsText(registerValue), text);
}

void MainLoopTest::decoding_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("value");
    const int plain = int(RegisterFormat::Unsigned);
    const int signed16 = int(RegisterFormat::Signed16);
    const int lowByte = int(RegisterFormat::LowByte);
    QTest::newRow("unsigned 0xFF38") << plain << QByteArray::fromHex("FF38") << 0xFF38;
    QTest::newRow("signed 0xFF38") << signed16 << QByteArray::fromHex("FF38") << -200;
    QTest::newRow("signed 0xFC18") << signed16 << QByteArray::fromHex("FC18") << -1000;
    QTest::newRow("signed 0x7FFF") << signed16 << QByteArray::fromHex("7FFF") << 32767;
    QTest::newRow("low byte 0x0102") << lowByte << QByteArray::fromHex("0102") << 2;
    QTest::newRow("low byte 0xFFFE") << lowByte << QByteArray::fromHex("FFFE") << 254;
}

void MainLoopTest::decoding() {
    QFETCH(int, format);
    QFETCH(QByteArray, data);
    QFETCH(int, value);
    QCOMPARE(decodeRegister(RegisterFormat(format), std::uint8_t(data[0]), std::uint8_t(data[1])),
             value);
}

void MainLoopTest::periodFromText_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<uint>("periodMs");
    QTest::addColumn<bool>("corrected");
    QTest::newRow("initial text") << "1" << 1000u << false;
    QTest::newRow("exactly 0.1") << "0.1" << 100u << false;
    QTest::newRow("1.25 truncated") << "1.25" << 1250u << false;
    QTest::newRow("blanks around") << " 2 " << 2000u << false;
    QTest::newRow("0.05") << "0.05" << 100u << true;
    QTest::newRow("zero") << "0" << 100u << true;
    QTest::newRow("negative") << "-3" << 100u << true;
    QTest::newRow("letters") << "abc" << 100u << true;
    QTest::newRow("empty") << "" << 100u << true;
    QTest::newRow("decimal comma") << "0,5" << 100u << true;
    QTest::newRow("infinite") << "inf" << 100u << true;
    QTest::newRow("not a number") << "nan" << 100u << true;
    QTest::newRow("largest 32-bit period") << "4294967.295" << 4294967295u << false;
    QTest::newRow("beyond 32 bits") << "4294967.296" << 100u << true;
    QTest::newRow("far beyond") << "1e300" << 100u << true;
}

void MainLoopTest::periodFromText() {
    QFETCH(QString, typed);
    QFETCH(uint, periodMs);
    QFETCH(bool, corrected);
    const AcquisitionPeriod period = acquisitionPeriodFromText(typed);
    QCOMPARE(period.milliseconds, periodMs);
    QCOMPARE(period.corrected, corrected);
}

void MainLoopTest::capacityForPeriod_data() {
    QTest::addColumn<uint>("periodMs");
    QTest::addColumn<uint>("capacity");
    const uint rows[][2] = {{100, 69}, {200, 34},  {500, 13},
                            {1000, 6}, {1250, 4},  {2000, 2},
                            {3000, 1}, {3500, 1},  {3501, 0},
                            {7000, 0}, {10000, 0}, {std::numeric_limits<std::uint32_t>::max(), 0}};
    for (const auto &row : rows)
        QTest::addRow("%u ms", row[0]) << row[0] << row[1];
}

void MainLoopTest::capacityForPeriod() {
    QFETCH(uint, periodMs);
    QFETCH(uint, capacity);
    QCOMPARE(windowCapacityFor(periodMs), capacity);
}

void MainLoopTest::tickWhileTheWorkerRunsOnlyCounts() {
    ChartBench bench;
    const QString shownBefore = bench.form.tem_value->text();
    for (const std::uint8_t phase : {WorkerPhase::Running, WorkerPhase::HandedBack}) {
        sharedState.workerPhase.store(phase);
        sharedState.resultCode.store(ReadUpdateTime);
        sharedState.elapsedMs.store(500);

        runMainLoop(bench.form);

        QCOMPARE(sharedState.elapsedMs.load(), 600u);
        QCOMPARE(sharedState.workerPhase.load(), phase);
        QCOMPARE(int(sharedState.resultCode.load()), int(ReadUpdateTime));
        QCOMPARE(lines(bench.form.textEdit), QStringList());
        QCOMPARE(bench.form.tem_value->text(), shownBefore);
    }
}

void MainLoopTest::presentation_data() {
    QTest::addColumn<int>("resultCode");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("line");
    QTest::newRow("scan") << 1 << "lineEdit_device_address"
                          << "9"
                          << "获取成功！";
    QTest::newRow("model code") << 2 << "lineEdit_serial_number"
                                << "65535"
                                << "读取成功！";
    QTest::newRow("temperature offset") << 9 << "lineEdit_tem_offset_value"
                                        << "-1000"
                                        << "读取成功！";
    QTest::newRow("current PWM minimum") << 20 << "line_edit_smoke_c_min"
                                         << "120"
                                         << "读取成功！";
    QTest::newRow("cycle code: no field") << 21 << ""
                                          << ""
                                          << "读取成功！";
    QTest::newRow("failed read: field kept") << 235 << ""
                                             << ""
                                             << "读取失败！";
    QTest::newRow("write") << 84 << ""
                           << ""
                           << "写入成功！";
    QTest::newRow("nothing") << 0 << ""
                             << ""
                             << "";
}

void MainLoopTest::presentation() {
    QFETCH(int, resultCode);
    QFETCH(QString, field);
    QFETCH(QString, shown);
    QFETCH(QString, line);
    ChartBench bench;
    MainWindowForm &form = bench.form;
    const QList<QLineEdit *> entries = bench.host.findChildren<QLineEdit *>();
    for (QLineEdit *entry : entries)
        entry->setText(QStringLiteral("old"));
    sharedState.slaveAddress.store(9);
    sharedState.serialNumber.store(65535);
    sharedState.temOffset.store(-1000);
    sharedState.smokeCMin.store(120);
    sharedState.alarmStatus.store(0x8001);
    sharedState.smokeValue.store(65535);
    sharedState.smokeAdValue.store(1234);
    sharedState.temValue.store(0xFE0C);
    sharedState.humValue.store(4550);
    sharedState.resultCode.store(std::uint8_t(resultCode));
    Serial serial;

    presentFinishedJob(form, serial, sharedState);

    QCOMPARE(lines(form.textEdit), line.isEmpty() ? QStringList() : QStringList{line});
    QCOMPARE(int(sharedState.resultCode.load()), 0);
    for (QLineEdit *entry : entries) {
        const QString expected = entry->objectName() == field ? shown : QStringLiteral("old");
        QCOMPARE(entry->text(), expected);
    }
    QCOMPARE(form.alarm_status->text(), QStringLiteral("32769"));
    QCOMPARE(form.device_address->text(), QStringLiteral("9"));
    QCOMPARE(form.smoke_vallue->text(), QStringLiteral("65535 PPM"));
    QCOMPARE(form.smoke_ad_value->text(), QStringLiteral("1234"));
    QCOMPARE(form.tem_value->text(), QStringLiteral("-5 ℃"));
    QCOMPARE(form.hum_vallue->text(), QStringLiteral("45.5 RH%"));
    // No traffic: counters shown, unchanged, and no frame lines.
    QCOMPARE(form.lable_send_counter->text(), QStringLiteral("0"));
    QCOMPARE(form.lable_receive_counter_2->text(), QStringLiteral("0"));
}

void MainLoopTest::requestWithoutReplyLogsAnEmptyReceiveLine() {
    ChartBench bench;
    Serial serial;
    serial.txByteCount = 100;
    serial.rxByteCount = 7;
    // A port that is not open still keeps the frame it was handed.
    serial.sendData(QByteArray::fromHex("0103006A0001A416"));
    sharedState.resultCode.store(ResultCode::failureOf(ReadUpdateTime));

    presentFinishedJob(bench.form, serial, sharedState);

    QCOMPARE(lines(bench.form.textEdit),
             (QStringList{QStringLiteral("Send: 01 03 00 6A 00 01 A4 16 "),
                          QStringLiteral("Receive: "), QStringLiteral("读取失败！")}));
    QCOMPARE(bench.form.lable_send_counter->text(), QStringLiteral("108"));
    QCOMPARE(bench.form.lable_receive_counter_2->text(), QStringLiteral("7"));
    QVERIFY(serial.lastSent().isEmpty());

    // Presented once: the next tick adds nothing and logs no frame.
    presentFinishedJob(bench.form, serial, sharedState);
    QCOMPARE(lines(bench.form.textEdit).size(), 3);
    QCOMPARE(bench.form.lable_send_counter->text(), QStringLiteral("108"));
}

void MainLoopTest::chartWindowScrollsLikeTheWorkedExample() {
    ChartBench bench;
    const std::uint32_t capacity = 6;  // a period of 1000 ms
    const struct {
        double from;
        double to;
    } axis[] = {{0, 7}, {0, 7}, {0, 7}, {0, 7}, {0, 7}, {0, 5}, {1, 6}, {2, 7}, {3, 8}};
    for (int sample = 0; sample < 9; ++sample) {
        bench.plot(2000 + sample, 5000 - sample, capacity);
        QCOMPARE(bench.time.min(), axis[sample].from);
        QCOMPARE(bench.time.max(), axis[sample].to);
        QCOMPARE(bench.samples.sampleReady.load(), std::uint8_t(0));
    }
    QCOMPARE(bench.samples.sampleCount, capacity);
    QCOMPARE(bench.samples.nextTimeS, 9.0);
    // The window holds the six newest samples, oldest first.
    for (std::uint32_t i = 0; i < capacity; ++i) {
        QCOMPARE(bench.samples.sampleTime[i], float(3 + i));
        QCOMPARE(bench.samples.sampleTem[i], float((2000 + 3 + int(i)) / 100.0));
        QCOMPARE(bench.samples.sampleHum[i], float((5000 - 3 - int(i)) / 100.0));
    }
    // Every sample became a point on both curves.
    QCOMPARE(bench.tem.count(), 9);
    QCOMPARE(bench.hum.count(), 9);
    QCOMPARE(bench.tem.at(8), QPointF(8, double(float(20.08))));
    QCOMPARE(bench.hum.at(0), QPointF(0, double(float(50.00))));
    QCOMPARE(bench.form.wind_speed_buffer->text(), QStringLiteral("温度:20.08 ℃"));
    QCOMPARE(bench.form.wind_speed_buffer_2->text(), QStringLiteral("湿度:49.92 RH%"));
}

void MainLoopTest::chartWithoutCapacityShowsNoPointAndReadsNothingOutside() {
    ChartBench bench;
    bench.samples.periodMs = 4000;
    bench.time.setRange(0, 7);
    for (int sample = 0; sample < 3; ++sample)
        bench.plot(2500, 4000, 0);
    QCOMPARE(bench.tem.count(), 0);
    QCOMPARE(bench.hum.count(), 0);
    QCOMPARE(bench.samples.sampleCount, 0u);
    QCOMPARE(bench.time.min(), 0.0);
    QCOMPARE(bench.time.max(), 7.0);
    QCOMPARE(bench.samples.nextTimeS, 12.0);
    QCOMPARE(bench.samples.sampleReady.load(), std::uint8_t(0));
    QCOMPARE(bench.form.wind_speed_buffer->text(), QStringLiteral("温度:25 ℃"));
    QCOMPARE(bench.form.wind_speed_buffer_2->text(), QStringLiteral("湿度:40 RH%"));
}

void MainLoopTest::chartWithCapacityOne() {
    ChartBench bench;
    bench.samples.periodMs = 3000;
    for (int sample = 0; sample < 3; ++sample) {
        bench.plot(100 * sample, 0, 1);
        QCOMPARE(bench.samples.sampleCount, 1u);
        QCOMPARE(bench.samples.sampleTime[0], float(3 * sample));
        QCOMPARE(bench.samples.sampleTem[0], float(sample));
        // A range that ends at the one sample, never the empty [t, t].
        QCOMPARE(bench.time.max(), 3.0 * sample);
        QCOMPARE(bench.time.min(), 3.0 * sample - 7.0);
    }
    QCOMPARE(bench.tem.count(), 3);
}

void MainLoopTest::negativeTemperatureIsPlottedBelowZero() {
    ChartBench bench;
    bench.plot(0xFE0C, 0xFFFF, 6);
    QCOMPARE(bench.tem.at(0), QPointF(0, -5));
    QCOMPARE(bench.hum.at(0), QPointF(0, double(-0.01f)));
    QCOMPARE(bench.form.wind_speed_buffer->text(), QStringLiteral("温度:-5 ℃"));
    QCOMPARE(bench.form.wind_speed_buffer_2->text(), QStringLiteral("湿度:-0.01 RH%"));
}

void MainLoopTest::seriesKeepOnlyTheNewestPoints() {
    ChartBench bench;
    bench.samples.periodMs = 100;
    const int samples = 2 * kMaxSeriesPoints + 500;
    for (int sample = 0; sample < samples; ++sample) {
        bench.plot(sample % 5000, 3000, 69);
        QVERIFY(bench.tem.count() <= kMaxSeriesPoints);
    }
    // The whole window of the shortest period, and the point before it, stay on the curves.
    QVERIFY(kMaxSeriesPoints > int(windowCapacityFor(100)));
    QCOMPARE(bench.tem.count(), kMaxSeriesPoints);
    QCOMPARE(bench.hum.count(), kMaxSeriesPoints);
    // The oldest went, in order; the newest is last.
    const int firstKept = samples - kMaxSeriesPoints;
    // Times are sums of the period: close to, not exactly, index * 0.1 s.
    QVERIFY(qAbs(bench.tem.at(0).x() - firstKept * 0.1) < 1e-3);
    QCOMPARE(bench.tem.at(0).y(), double(float(firstKept % 5000 / 100.0)));
    QVERIFY(qAbs(bench.tem.at(kMaxSeriesPoints - 1).x() - (samples - 1) * 0.1) < 1e-3);
    for (int i = 1; i < bench.tem.count(); ++i)
        QVERIFY(bench.tem.at(i).x() > bench.tem.at(i - 1).x());
}

QTEST_MAIN(MainLoopTest)
#include "tst_mainloop.moc"
