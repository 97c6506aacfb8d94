// Acquisition through the window against the simulated sensor: the period rule, the cadence
// of cycles, the samples on the chart, stopping, and closing the window mid-cycle.
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtTest>

#include <memory>
#include <mutex>
#include <optional>

#include "app/connection.h"
#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "support/ops_session.h"
#include "transport/mytimer.h"
#include "transport/serial.h"

Q_DECLARE_METATYPE(FaultSpec)

namespace {

QWidget *newWindow() {
    return new MainWindow;
}

int registerOf(const Exchange &exchange) {
    return std::uint8_t(exchange.request[2]) << 8 | std::uint8_t(exchange.request[3]);
}

const QString kStarted = QStringLiteral("开始采集...");
const QString kStopped = QStringLiteral("停止采集...");
const QString kCorrected = QStringLiteral("采集周期最大为0.1s,自动设为0.1s");
const QString kOpenFirst = QStringLiteral("请先打开串口！");

}  // namespace

class AcquisitionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void periodRule_data();
    void periodRule();
    void cadenceSamplesAndTimeAxis();
    void failedReadsShowZero();
    void lateRepliesAndUploadsShowNoOtherRegistersValue_data();
    void lateRepliesAndUploadsShowNoOtherRegistersValue();
    void startTwiceRestartsTheWindow();
    void stopWhileStopped();
    void stopDuringAcquisition();
    void startWithPortClosed();
    void closingThePortStopsAcquisition();
    // Builds its own window: runs last.
    void closingTheWindowDuringASlowCycle();

private:
    QStringList frameFreeLinesFrom(int first) const;

    std::unique_ptr<OpsSession> session;
};

void AcquisitionTest::initTestCase() {
    session = std::make_unique<OpsSession>(newWindow);
    QVERIFY(session->isValid());
    QVERIFY(session->openAndScan());
    setDistinctCycleReadings(session->sensor().model());
}

void AcquisitionTest::init() {
    QVERIFY(session);
    if (!serialPort->isOpen.load())
        QVERIFY(session->openPort());
    session->click("scan_button_2");
    QVERIFY(session->waitForIdleWorker());
    session->sensor().clearFaultQueue();
    session->sensor().clearExchanges();
}

void AcquisitionTest::cleanup() {
    if (session)
        session->sensor().setFrameLogger(nullptr);
}

void AcquisitionTest::cleanupTestCase() {
    session.reset();
}

QStringList AcquisitionTest::frameFreeLinesFrom(int first) const {
    QStringList lines;
    for (const QString &line : session->logLinesFrom(first)) {
        if (!line.startsWith(QStringLiteral("Send: ")) &&
            !line.startsWith(QStringLiteral("Receive: ")))
            lines << line;
    }
    return lines;
}

void AcquisitionTest::periodRule_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<uint>("periodMs");
    QTest::addColumn<uint>("capacity");
    QTest::addColumn<bool>("corrected");
    QTest::addColumn<QString>("shownAfter");
    QTest::newRow("initial 1") << "1" << 1000u << 6u << false << "1";
    QTest::newRow("0.05 corrected") << "0.05" << 100u << 69u << true << "0.1";
    QTest::newRow("exactly 0.1") << "0.1" << 100u << 69u << false << "0.1";
    QTest::newRow("0.2") << "0.2" << 200u << 34u << false << "0.2";
    QTest::newRow("0.5") << "0.5" << 500u << 13u << false << "0.5";
    QTest::newRow("1.25") << "1.25" << 1250u << 4u << false << "1.25";
    QTest::newRow("2") << "2" << 2000u << 2u << false << "2";
    QTest::newRow("3.5") << "3.5" << 3500u << 1u << false << "3.5";
    QTest::newRow("4: no window") << "4" << 4000u << 0u << false << "4";
    QTest::newRow("letters") << "abc" << 100u << 69u << true << "0.1";
    QTest::newRow("empty") << "" << 100u << 69u << true << "0.1";
    QTest::newRow("decimal comma") << "0,5" << 100u << 69u << true << "0.1";
    QTest::newRow("negative") << "-1" << 100u << 69u << true << "0.1";
    QTest::newRow("infinite") << "inf" << 100u << 69u << true << "0.1";
    QTest::newRow("too long for 32 bits") << "5000000" << 100u << 69u << true << "0.1";
}

void AcquisitionTest::periodRule() {
    QFETCH(QString, typed);
    QFETCH(uint, periodMs);
    QFETCH(uint, capacity);
    QFETCH(bool, corrected);
    QFETCH(QString, shownAfter);
    session->setText("line_time", typed);
    const int first = session->logLineCount();

    session->click("connect_button_2");

    QCOMPARE(session->logLinesFrom(first),
             corrected ? (QStringList{kStarted, kCorrected}) : QStringList{kStarted});
    QCOMPARE(session->text("line_time"), shownAfter);
    QCOMPARE(sharedState.acquisitionOn.load(), 1);
    QCOMPARE(sharedState.acquisitionPeriodMs.load(), periodMs);
    QCOMPARE(windowCapacity, capacity);
    QCOMPARE(sampleWindow->running, std::uint8_t(1));
    QCOMPARE(sampleWindow->sampleCount, 0u);
    QCOMPARE(sampleWindow->nextTimeS, 0.0);
    QCOMPARE(sampleWindow->periodMs, double(periodMs));
    QCOMPARE(temSeries->name(), QStringLiteral("温度"));
    QCOMPARE(humSeries->name(), QStringLiteral("湿度"));
    QCOMPARE(timeAxis->min(), 0.0);
    QCOMPARE(timeAxis->max(), 7.0);
    QCOMPARE(timeAxis->tickCount(), 8);
    QCOMPARE(timeAxis->titleText(), QStringLiteral(" 时间(s)"));
    QCOMPARE(valueAxis->min(), -40.0);
    QCOMPARE(valueAxis->max(), 140.0);
    QCOMPARE(valueAxis->tickCount(), 10);
}

void AcquisitionTest::cadenceSamplesAndTimeAxis() {
    SimulatedSensor &sensor = session->sensor();
    std::mutex cycleTicksMutex;
    std::vector<int> cycleTicks;
    sensor.setFrameLogger([&](const Exchange &exchange) {
        if (registerOf(exchange) == SensorModel::kRegSmokePpm) {
            std::lock_guard<std::mutex> lock(cycleTicksMutex);
            cycleTicks.push_back(session->tickCount());
        }
    });
    session->setText("line_time", QStringLiteral("1"));
    const int first = session->logLineCount();

    session->click("connect_button_2");

    // Seven samples at one every 1.1 s.
    QVERIFY(session->waitForSamples(7, 20000));
    sensor.setFrameLogger(nullptr);

    // One cycle every 11 ticks; a request that reaches the sensor only after the next tick
    // shifts one start by a tick, never the whole cadence.
    std::vector<int> ticks;
    {
        std::lock_guard<std::mutex> lock(cycleTicksMutex);
        ticks = cycleTicks;
    }
    QVERIFY(ticks.size() >= 7);
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        const int gap = ticks[i] - ticks[i - 1];
        QVERIFY2(gap >= 10 && gap <= 12, qPrintable(QStringLiteral("gap %1").arg(gap)));
    }
    const int span = ticks[6] - ticks[0];
    QVERIFY2(span >= 65 && span <= 67, qPrintable(QStringLiteral("span %1").arg(span)));

    // Five reads per cycle, in order, at the scanned address.
    const std::vector<Exchange> exchanges = sensor.exchanges();
    const int order[] = {0, 1, 2, 3, 112};
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        QCOMPARE(registerOf(exchanges[i]), order[i % 5]);
        QCOMPARE(int(std::uint8_t(exchanges[i].request[0])), 1);
    }

    // The chart: the time axis advances by the nominal period per sample, and from the sixth
    // sample on spans the six newest.
    QCOMPARE(temSeries->at(0), QPointF(0, -5));
    QCOMPARE(humSeries->at(0), QPointF(0, 45.5));
    for (int i = 0; i < 7; ++i)
        QCOMPARE(temSeries->at(i).x(), double(i));
    if (temSeries->count() == 7) {
        QCOMPARE(timeAxis->min(), 1.0);
        QCOMPARE(timeAxis->max(), 6.0);
    }
    QCOMPARE(session->text("tem_value"), QStringLiteral("-5 ℃"));
    QCOMPARE(session->text("hum_vallue"), QStringLiteral("45.5 RH%"));
    QCOMPARE(session->text("smoke_vallue"), QStringLiteral("12 PPM"));
    QCOMPARE(session->text("alarm_status"), QStringLiteral("1"));
    QCOMPARE(session->text("smoke_ad_value"), QStringLiteral("777"));
    QCOMPARE(session->text("wind_speed_buffer"), QStringLiteral("温度:-5 ℃"));
    QCOMPARE(session->text("wind_speed_buffer_2"), QStringLiteral("湿度:45.5 RH%"));

    // A cycle reports no result line; its log shows the last request and reply only.
    QCOMPARE(frameFreeLinesFrom(first), QStringList{kStarted});
    const QStringList lines = session->logLinesFrom(first + 1);
    QVERIFY(lines.size() >= 2);
    QCOMPARE(lines[0], QStringLiteral("Send: ") + hexBytes(exchanges[4].request) + ' ');
    QCOMPARE(lines[1], QStringLiteral("Receive: ") + hexBytes(exchanges[4].reply()) + ' ');
}

void AcquisitionTest::failedReadsShowZero() {
    SimulatedSensor &sensor = session->sensor();
    // The first cycle loses its humidity read.
    for (const Fault fault : {Fault::None, Fault::None, Fault::NoReply})
        sensor.queueFault(FaultSpec::of(fault));
    session->setText("line_time", QStringLiteral("0.1"));
    const int first = session->logLineCount();

    session->click("connect_button_2");

    QVERIFY(session->waitForSamples(2));
    QCOMPARE(temSeries->at(0), QPointF(0, -5));
    QCOMPARE(humSeries->at(0), QPointF(0, 0));
    QCOMPARE(humSeries->at(1), QPointF(double(0.1f), 45.5));
    QCOMPARE(frameFreeLinesFrom(first), QStringList{kStarted});
}

void AcquisitionTest::lateRepliesAndUploadsShowNoOtherRegistersValue_data() {
    QTest::addColumn<int>("replyDelayMs");
    QTest::addColumn<double>("lateShare");  // of replies late by a draw from 60-100 ms
    QTest::addColumn<int>("uploadIntervalMs");
    QTest::addColumn<bool>("busyWindow");
    QTest::addColumn<int>("ticks");
    // The reply window is 15 ms at 115200 baud; a USB adapter's default latency is 16 ms.
    // (Under a sanitizer the session talks at 9600, with 70 ms: the rows below 70 ms come in
    // time there.) Uploads come as often against the window as every 37 ms against 15 ms: at
    // 9600 every 37 ms would put one in every window, and no read could succeed.
    const int uploadMs = 37 * replyWaitForBaudRate(kSessionBaudRate) / replyWaitForBaudRate(115200);
    QTest::newRow("replies 16 ms late") << 16 << 0.0 << 0 << false << 30;
    QTest::newRow("replies 40 ms late") << 40 << 0.0 << 0 << false << 30;
    QTest::newRow("replies 80 ms late") << 80 << 0.0 << 0 << false << 30;
    QTest::addRow("uploads every %d ms", uploadMs) << 0 << 0.0 << uploadMs << false << 30;
    QTest::addRow("replies 20 ms late, uploads every %d ms", uploadMs)
        << 20 << 0.0 << uploadMs << false << 30;
    // Bytes that came while the window was busy still wait in the OS when the next request
    // is handed over.
    QTest::newRow("half the replies 60-100 ms late, window busy") << 0 << 0.5 << 0 << true << 80;
    QTest::newRow("replies 60-100 ms late, window busy") << 0 << 1.0 << 0 << true << 80;
    QTest::newRow("replies 100 ms late, window busy") << 100 << 0.0 << 0 << true << 80;
    QTest::addRow("uploads every %d ms, window busy", uploadMs)
        << 0 << 0.0 << uploadMs << true << 60;
}

void AcquisitionTest::lateRepliesAndUploadsShowNoOtherRegistersValue() {
    QFETCH(int, replyDelayMs);
    QFETCH(double, lateShare);
    QFETCH(int, uploadIntervalMs);
    QFETCH(bool, busyWindow);
    QFETCH(int, ticks);
    SimulatedSensor &sensor = session->sensor();
    session->setText("line_time", QStringLiteral("0.1"));
    session->click("connect_button_2");
    session->waitTicks(2);
    sensor.setReplyDelay(replyDelayMs);
    sensor.setFaultRate(FaultSpec::lateBetween(60, 100), lateShare);
    sensor.setUploadInterval(uploadIntervalMs);

    // Each read-out shows its own register's value, or 0 after a failed read.
    const std::pair<const char *, QStringList> allowed[] = {
        {"tem_value", {"-5 ℃", "0 ℃"}},        {"hum_vallue", {"45.5 RH%", "0 RH%"}},
        {"smoke_vallue", {"12 PPM", "0 PPM"}}, {"alarm_status", {"1", "0"}},
        {"smoke_ad_value", {"777", "0"}},
    };
    QStringList wrong;
    const QMetaObject::Connection watching = connect(tickTimer, &MyTimer::handleTimeout, this, [&] {
        for (const auto &[label, texts] : allowed) {
            const QString shown = session->text(label);
            if (!texts.contains(shown))
                wrong << QStringLiteral("%1: %2").arg(label, shown);
        }
    });
    std::optional<BusyWindow> busy;
    if (busyWindow)
        busy.emplace();
    session->waitTicks(ticks);
    busy.reset();
    disconnect(watching);
    sensor.setReplyDelay(0);
    sensor.clearFaultRates();
    sensor.setUploadInterval(0);

    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(", ")));
    int plottedRight = 0;
    for (int i = 0; i < temSeries->count(); ++i) {
        QVERIFY2(QList<double>({-5.0, 0.0}).contains(temSeries->at(i).y()),
                 qPrintable(QString::number(temSeries->at(i).y())));
        QVERIFY2(QList<double>({45.5, 0.0}).contains(humSeries->at(i).y()),
                 qPrintable(QString::number(humSeries->at(i).y())));
        plottedRight += temSeries->at(i).y() == -5.0;
    }
    // Where replies come in time, reads go on succeeding meanwhile.
    if (replyDelayMs == 0 && lateShare < 1.0)
        QVERIFY2(plottedRight > 0,
                 qPrintable(QStringLiteral("none of %1 samples plotted -5.00 in %2 ticks; %3; the "
                                           "log's last lines: %4")
                                .arg(temSeries->count())
                                .arg(ticks)
                                .arg(session->lineState(), session->lastLogLines(8))));
}

void AcquisitionTest::startTwiceRestartsTheWindow() {
    session->setText("line_time", QStringLiteral("0.1"));
    session->click("connect_button_2");
    QVERIFY(session->waitForSamples(3));
    const int first = session->logLineCount();

    session->click("connect_button_2");

    QCOMPARE(frameFreeLinesFrom(first), QStringList{kStarted});
    QCOMPARE(sampleWindow->sampleCount, 0u);
    QCOMPARE(sampleWindow->nextTimeS, 0.0);
    const int kept = temSeries->count();
    QVERIFY(kept >= 3);
    QVERIFY(session->waitForSamples(kept + 1));
    // The earlier points stay; the new ones start again at the left.
    QCOMPARE(temSeries->at(kept).x(), 0.0);
    QVERIFY(temSeries->at(kept - 1).x() > 0.0);
    QCOMPARE(timeAxis->min(), 0.0);
    QCOMPARE(timeAxis->max(), 7.0);
}

void AcquisitionTest::stopWhileStopped() {
    temSeries->append(1, 2);
    humSeries->append(1, 3);
    timeAxis->setRange(3, 9);
    const int first = session->logLineCount();

    session->click("scan_button_2");

    QCOMPARE(session->logLinesFrom(first), QStringList{kStopped});
    QCOMPARE(temSeries->count(), 0);
    QCOMPARE(humSeries->count(), 0);
    QCOMPARE(timeAxis->min(), 0.0);
    QCOMPARE(timeAxis->max(), 7.0);
    QCOMPARE(sharedState.acquisitionOn.load(), 0);
}

void AcquisitionTest::stopDuringAcquisition() {
    // At 9600 baud a cycle takes 350 ms: time enough to stop in the middle of one.
    session->click("connect_button");
    QVERIFY(session->openPort(9600));
    SimulatedSensor &sensor = session->sensor();
    session->setText("line_time", QStringLiteral("0.1"));
    session->click("connect_button_2");
    QVERIFY(session->waitForSamples(2));
    const std::uint32_t capacity = windowCapacity;
    const auto cycleReached = [&sensor](int reg) {
        const std::vector<Exchange> exchanges = sensor.exchanges();
        return !exchanges.empty() && registerOf(exchanges.back()) == reg;
    };
    QVERIFY(session->waitOrReport([&] { return cycleReached(SensorModel::kRegSmokePpm); }, 5000,
                                  [] { return QStringLiteral("a cycle's smoke read"); }));
    QVERIFY(session->waitOrReport([&] { return cycleReached(SensorModel::kRegTemperature); }, 5000,
                                  [] { return QStringLiteral("that cycle's temperature read"); }));
    const int first = session->logLineCount();

    session->click("scan_button_2");

    QCOMPARE(frameFreeLinesFrom(first), QStringList{kStopped});
    QCOMPARE(sharedState.acquisitionOn.load(), 0);
    QCOMPARE(sampleWindow->running, std::uint8_t(0));
    QCOMPARE(temSeries->count(), 0);
    QCOMPARE(humSeries->count(), 0);
    QCOMPARE(windowCapacity, capacity);
    // The cycle under way ends; no other starts and nothing more is plotted.
    QVERIFY(session->waitForIdleWorker());
    session->waitTicks(1);
    const std::size_t requests = sensor.exchanges().size();
    QCOMPARE(registerOf(sensor.exchanges().back()), int(SensorModel::kRegSmokeAd));
    session->waitTicks(4);
    QCOMPARE(sensor.exchanges().size(), requests);
    QCOMPARE(temSeries->count(), 0);
    // Its sample is not left for a later start to plot as that start's first.
    QCOMPARE(sampleWindow->sampleReady.load(), std::uint8_t(0));
    session->click("connect_button");
}

void AcquisitionTest::startWithPortClosed() {
    session->click("connect_button");
    session->setText("line_time", QStringLiteral("2.5"));
    int first = session->logLineCount();

    session->click("connect_button_2");

    QCOMPARE(session->logLinesFrom(first), QStringList{kOpenFirst});
    QCOMPARE(sharedState.acquisitionPeriodMs.load(), 2500u);
    QCOMPARE(sharedState.acquisitionOn.load(), 0);
    QCOMPARE(sampleWindow->running, std::uint8_t(0));

    session->setText("line_time", QStringLiteral("0.05"));
    first = session->logLineCount();
    session->click("connect_button_2");
    QCOMPARE(session->logLinesFrom(first), (QStringList{kOpenFirst, kCorrected}));
    QCOMPARE(session->text("line_time"), QStringLiteral("0.1"));
    QCOMPARE(sharedState.acquisitionPeriodMs.load(), 100u);
    session->waitTicks(4);
    QVERIFY(session->sensor().exchanges().empty());
    QCOMPARE(temSeries->count(), 0);
}

void AcquisitionTest::closingThePortStopsAcquisition() {
    session->setText("line_time", QStringLiteral("0.1"));
    session->click("connect_button_2");
    QVERIFY(session->waitForSamples(2));
    const int first = session->logLineCount();

    session->click("connect_button");

    QCOMPARE(frameFreeLinesFrom(first), (QStringList{QStringLiteral("关闭串口！"), kStopped}));
    QCOMPARE(sharedState.acquisitionOn.load(), 0);
    QCOMPARE(temSeries->count(), 0);
    QVERIFY(session->waitForIdleWorker());
    session->waitTicks(1);
    const std::size_t requests = session->sensor().exchanges().size();
    session->waitTicks(4);
    QCOMPARE(session->sensor().exchanges().size(), requests);
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(Idle));
}

void AcquisitionTest::closingTheWindowDuringASlowCycle() {
    session.reset();
    DebugLineCounter debugLines;
    OpsSession slow(newWindow);
    QVERIFY(slow.isValid());
    QVERIFY(slow.openAndScan(2400));
    QCOMPARE(int(serialPort->replyWaitMs.load()), 250);
    slow.setText("line_time", QStringLiteral("0.1"));
    slow.click("connect_button_2");

    // Inside a cycle: the temperature read has gone out, three more reads are to come, each
    // with a 250 ms wait.
    QVERIFY(slow.waitOrReport([&slow] { return slow.sensor().exchanges().size() >= 2; }, 10000,
                              [] { return QStringLiteral("a cycle's first two reads"); }));
    QCOMPARE(registerOf(slow.sensor().exchanges()[1]), int(SensorModel::kRegTemperature));
    QCOMPARE(sharedState.workerPhase.load(), WorkerPhase::Running);

    const qint64 closingMs = slow.destroyWindow();
    qInfo("closing the window took %lld ms", closingMs);

    QVERIFY2(closingMs < 750, qPrintable(QStringLiteral("closing took %1 ms").arg(closingMs)));
    QCOMPARE(sharedState.workerPhase.load(), WorkerPhase::Finished);
    QCOMPARE(debugLines.count(QStringLiteral("ThreadFromQThread delete")), 1);
    QCOMPARE(debugLines.count(QStringLiteral("time delete")), 1);
}

QTEST_MAIN(AcquisitionTest)
#include "tst_e2e_acquisition.moc"
