#include "bench/busbench.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QSerialPort>
#include <QTextEdit>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/connection.h"
#include "app/mainwindow.h"
#include "bench/driving.h"
#include "bench/stallprobe.h"
#include "rtu/rtumaster.h"
#include "sensor/sharedstate.h"
#include "sim/simulatedsensor.h"
#include "transport/serial.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTickMs = 100;
constexpr int kReadsMeasured = 200;
constexpr int kFailingReadsMeasured = 30;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The reads on their own: the port object and the master as the program wires them, a worker
// thread doing back-to-back reads while this thread runs its event loop.
// With answering false the sensor hears every request and never replies: a bus without it.
std::vector<double> measureReadDurations(int baudRate, int waitMs, int reads, bool answering) {
    SimulatedSensor sensor;
    if (!sensor.openPty(nullptr, baudRate))
        return {};
    sensor.model().setLiveValuesMoving(false);
    sensor.setLineTiming(true);
    if (!answering)
        sensor.setFaultRate(FaultSpec::of(Fault::NoReply), 1.0);

    Serial serial;
    QObject::connect(serial.port, &QSerialPort::readyRead, &serial, &Serial::readData);
    if (!serial.openPort(sensor.portPath(), baudRate))
        return {};
    serial.isOpen = true;
    serial.replyWaitMs = std::uint8_t(waitMs);
    RtuMaster master(serial);

    std::vector<double> durations;
    std::mutex durationsMutex;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < reads; ++i) {
            std::uint8_t data[256];
            std::uint8_t byteCount = 0;
            const auto start = Clock::now();
            master.readRegisters(1, SensorModel::kRegTemperature, 1, data, &byteCount);
            const double took = msBetween(start, Clock::now());
            std::lock_guard<std::mutex> lock(durationsMutex);
            durations.push_back(took);
        }
        finished = true;
    });
    waitUntil([&] { return finished.load(); }, reads * (4 * waitMs + 500));
    master.abortWaits();
    serial.shutdownHandoff();
    worker.join();
    std::lock_guard<std::mutex> lock(durationsMutex);
    return durations;
}

struct AcquisitionFigures {
    std::vector<double> cycleSpacingMs;
    std::vector<double> requestSpacingMs;  // between the reads of one cycle
    std::vector<double> stallsMs;
    bool ok = false;
};

// The whole program: the real window opened on the simulated sensor, scanned, acquiring at
// the 0.1 s period with the chart tab shown.
AcquisitionFigures measureAcquisition(int baudRate, int seconds) {
    AcquisitionFigures figures;
    resetSharedState();
    SimulatedSensor sensor;
    if (!sensor.openPty(nullptr, baudRate))
        return figures;
    sensor.model().setLiveValuesMoving(true);
    sensor.setLineTiming(true);

    std::unique_ptr<MainWindow> window = openProgram(sensor.portPath(), baudRate, true);
    if (!window)
        return figures;

    std::mutex timesMutex;
    std::vector<std::pair<int, Clock::time_point>> requests;
    sensor.setFrameLogger([&](const Exchange &exchange) {
        const int reg = std::uint8_t(exchange.request[2]) << 8 | std::uint8_t(exchange.request[3]);
        std::lock_guard<std::mutex> lock(timesMutex);
        requests.emplace_back(reg, exchange.receivedAt);
    });

    if (auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget")))
        tabs->setCurrentIndex(1);
    qobject_cast<QLineEdit *>(window->findChild<QWidget *>(QStringLiteral("line_time")))
        ->setText(QStringLiteral("0.1"));
    StallProbe probe;
    click(*window, "connect_button_2");
    // The first cycles settle the chart's first layout; the figures start after them.
    runEventLoopFor(1000);
    {
        std::lock_guard<std::mutex> lock(timesMutex);
        requests.clear();
    }
    probe.start();
    runEventLoopFor(seconds * 1000);
    probe.stop();
    click(*window, "scan_button_2");
    sensor.setFrameLogger(nullptr);

    std::lock_guard<std::mutex> lock(timesMutex);
    Clock::time_point lastCycle{};
    Clock::time_point lastRequest{};
    bool inCycle = false;
    for (const auto &[reg, at] : requests) {
        if (reg == SensorModel::kRegSmokePpm) {
            if (lastCycle != Clock::time_point{})
                figures.cycleSpacingMs.push_back(msBetween(lastCycle, at));
            lastCycle = at;
            inCycle = true;
        } else if (inCycle) {
            figures.requestSpacingMs.push_back(msBetween(lastRequest, at));
        }
        lastRequest = at;
    }
    figures.stallsMs = probe.stallsMs();
    figures.ok = !figures.cycleSpacingMs.empty();
    window.reset();
    return figures;
}

// The design's schedule at the 0.1 s period: a cycle falls due on the second tick after the
// last one began, or on the first tick after a longer cycle ended.
double scheduledCycleSpacingMs(int waitMs) {
    const int cycleMs = 5 * waitMs;
    const int ticks = std::max(2, cycleMs / kTickMs + 1);
    return ticks * kTickMs;
}

}  // namespace

std::vector<ResultRow> runBusBench(int baudRate, int seconds) {
    const int waitMs = replyWaitForBaudRate(baudRate);
    const QString at = QStringLiteral(" at %1 baud").arg(baudRate);
    std::vector<ResultRow> rows;

    const Summary reads = summarize(measureReadDurations(baudRate, waitMs, kReadsMeasured, true));
    rows.push_back({QStringLiteral("read transaction, median") + at, reads.median,
                    QStringLiteral("ms"), QStringLiteral("fixed wait"), double(waitMs),
                    QStringLiteral("≤ wait + 2 ms"),
                    reads.count > 0 && reads.median <= waitMs + 2});
    rows.push_back({QStringLiteral("read transaction, 99th percentile") + at, reads.p99,
                    QStringLiteral("ms"), QStringLiteral("fixed wait"), double(waitMs), QString(),
                    true});

    // Every read but the first waits for a quiet line first: that is the price of a failure.
    const Summary failing =
        summarize(measureReadDurations(baudRate, waitMs, kFailingReadsMeasured, false));
    rows.push_back({QStringLiteral("read without a reply, back to back, median") + at,
                    failing.median, QStringLiteral("ms"), QStringLiteral("fixed wait"),
                    double(waitMs), QString(), true});

    const AcquisitionFigures acquisition = measureAcquisition(baudRate, seconds);
    const Summary cycles = summarize(acquisition.cycleSpacingMs);
    const double schedule = scheduledCycleSpacingMs(waitMs);
    rows.push_back({QStringLiteral("cycle spacing at 0.1 s, median") + at, cycles.median,
                    QStringLiteral("ms"), QStringLiteral("design's schedule"), schedule,
                    QStringLiteral("= schedule"),
                    acquisition.ok && std::abs(cycles.median - schedule) < kTickMs / 2.0});
    rows.push_back({QStringLiteral("cycle spacing at 0.1 s, 99th percentile") + at, cycles.p99,
                    QStringLiteral("ms"), QStringLiteral("design's schedule"), schedule, QString(),
                    true});
    const Summary spacing = summarize(acquisition.requestSpacingMs);
    rows.push_back({QStringLiteral("request to request within a cycle, median") + at,
                    spacing.median, QStringLiteral("ms"), QStringLiteral("fixed wait"),
                    double(waitMs), QString(), true});
    const Summary stalls = summarize(acquisition.stallsMs);
    rows.push_back({QStringLiteral("GUI event loop stall during acquisition, longest") + at,
                    stalls.max, QStringLiteral("ms"), QStringLiteral("5 ms bound"), 5.0,
                    QStringLiteral("≤ 5 ms"), acquisition.ok && stalls.max <= 5.0});
    rows.push_back({QStringLiteral("GUI event loop stall during acquisition, 99th percentile") + at,
                    stalls.p99, QStringLiteral("ms"), QStringLiteral("5 ms bound"), 5.0, QString(),
                    true});
    return rows;
}
