// The worker on its own: one run per start against the simulated sensor, with the shared
// record as its only interface, and its restart by the main loop.
#include <QSerialPort>
#include <QtTest>

#include <chrono>
#include <memory>
#include <thread>

#include "rtu/rtumaster.h"
#include "sensor/mainloop.h"
#include "sensor/sharedstate.h"
#include "sensor/uart_thread.h"
#include "sim/simulatedsensor.h"
#include "support/busfixture.h"
#include "transport/serial.h"

Q_DECLARE_METATYPE(FaultSpec)

namespace {

int registerOf(const Exchange &exchange) {
    return std::uint8_t(exchange.request[2]) << 8 | std::uint8_t(exchange.request[3]);
}

// The program-wide objects the worker reaches, without a window: the test's thread plays the
// GUI thread and runs the event loop that carries the port's traffic.
class WorkerBench {
public:
    WorkerBench() : master(serial) {
        resetSharedState();
        sensorStarted = sensor.openPty();
        sensor.model().setLiveValuesMoving(false);
        QObject::connect(serial.port, &QSerialPort::readyRead, &serial, &Serial::readData);
        portOpened = serial.openPort(sensor.portPath(), 115200);
        serial.replyWaitMs = 15;
        serialPort = &serial;
        rtuMaster = &master;
        workerThread = &worker;
        sampleWindow = resetSampleWindow();
    }

    ~WorkerBench() {
        worker.wait();
        serialPort = nullptr;
        rtuMaster = nullptr;
        workerThread = nullptr;
    }

    bool isValid() const { return sensorStarted && portOpened; }
    void setOpen(bool open) { serial.isOpen = open; }

    // One run, as the main loop starts it; true when it finished.
    bool runOnce() {
        sharedState.workerPhase.store(WorkerPhase::HandedBack);
        restartWorker(worker);
        // The replies are gathered by this thread's event loop, within the 15 ms wait.
        const bool finished = runEventLoopUntil(
            [] { return sharedState.workerPhase.load() == WorkerPhase::Finished; }, 5000);
        worker.wait();
        return finished;
    }

    std::vector<int> registersRead() const {
        std::vector<int> registers;
        for (const Exchange &exchange : sensor.exchanges())
            registers.push_back(registerOf(exchange));
        return registers;
    }

    SimulatedSensor sensor;
    Serial serial;
    RtuMaster master;
    ThreadFromQThread worker;

private:
    bool sensorStarted = false;
    bool portOpened = false;
};

void setLiveRegisters(SensorModel &model) {
    model.setRegister(SensorModel::kRegSmokePpm, 12);
    model.setRegister(SensorModel::kRegTemperature, 0xFF38);
    model.setRegister(SensorModel::kRegHumidity, 4550);
    model.setRegister(SensorModel::kRegAlarmStatus, 1);
    model.setRegister(SensorModel::kRegSmokeAd, 777);
}

}  // namespace

class WorkerTest : public QObject {
    Q_OBJECT

private slots:
    void codesWithoutTransaction_data();
    void codesWithoutTransaction();
    void closedPortLeavesThePostPending();
    void phaseIsRunningDuringATransaction();
    void cycleFallsDueOnlyAfterThePeriod_data();
    void cycleFallsDueOnlyAfterThePeriod();
    void cycleReadsFailOnTheirOwn_data();
    void cycleReadsFailOnTheirOwn();
    void dueCycleWhileClosedStaysPending();
    void postedCommandGoesBeforeTheCycle();
    void leftoverCycleCodeIsCarriedOut();
    void restartIsNeverLost();
};

void WorkerTest::codesWithoutTransaction_data() {
    QTest::addColumn<uint>("code");
    for (const uint code : {0u, 22u, 80u, 101u, 118u, 120u, 255u, 0xFFFFFFFFu})
        QTest::addRow("%u", code) << code;
}

void WorkerTest::codesWithoutTransaction() {
    QFETCH(uint, code);
    WorkerBench bench;
    QVERIFY(bench.isValid());
    sharedState.resultCode.store(99);

    // Closed: kept. Open: taken up and dropped.
    bench.setOpen(false);
    sharedState.commandCode.store(code);
    QVERIFY(bench.runOnce());
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(code));
    QCOMPARE(int(sharedState.resultCode.load()), 0);

    bench.setOpen(true);
    QVERIFY(bench.runOnce());
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(Idle));
    QCOMPARE(int(sharedState.resultCode.load()), 0);
    QVERIFY(bench.sensor.exchanges().empty());
}

void WorkerTest::closedPortLeavesThePostPending() {
    WorkerBench bench;
    QVERIFY(bench.isValid());
    bench.sensor.model().setAddress(0);
    bench.sensor.model().setRegister(104, 0x0207);
    bench.setOpen(false);
    postCommand(sharedState, ReadCommunicationMode);

    QVERIFY(bench.runOnce());
    QVERIFY(bench.runOnce());
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(ReadCommunicationMode));
    QVERIFY(bench.sensor.exchanges().empty());

    bench.setOpen(true);
    QVERIFY(bench.runOnce());
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(Idle));
    QCOMPARE(int(sharedState.resultCode.load()), int(ReadCommunicationMode));
    QCOMPARE(int(sharedState.communicationMode.load()), 7);
    QCOMPARE(bench.sensor.exchanges().size(), std::size_t(1));
    QCOMPARE(bench.sensor.exchanges().front().request, readRequestFrame(0, 104));
}

void WorkerTest::phaseIsRunningDuringATransaction() {
    WorkerBench bench;
    QVERIFY(bench.isValid());
    bench.setOpen(true);
    bench.sensor.model().setAddress(0);
    postWrite(sharedState, WriteUpdateTime, 60);
    sharedState.workerPhase.store(WorkerPhase::HandedBack);
    restartWorker(bench.worker);

    // A write waits 200 ms for its echo; the request is on the wire well before that ends.
    QVERIFY(runEventLoopUntil([&] { return !bench.sensor.exchanges().empty(); }, 5000));
    QCOMPARE(sharedState.workerPhase.load(), WorkerPhase::Running);
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(Idle));
    QVERIFY(runEventLoopUntil(
        [] { return sharedState.workerPhase.load() == WorkerPhase::Finished; }, 5000));
    QCOMPARE(int(sharedState.resultCode.load()), int(WriteUpdateTime));
    QCOMPARE(bench.sensor.model().registerValue(106).value_or(0), std::uint16_t(60));
}

void WorkerTest::cycleFallsDueOnlyAfterThePeriod_data() {
    QTest::addColumn<uint>("periodMs");
    QTest::addColumn<uint>("elapsedMs");
    QTest::addColumn<bool>("acquiring");
    QTest::addColumn<bool>("due");
    QTest::newRow("equal is not due") << 1000u << 1000u << true << false;
    QTest::newRow("one past") << 1000u << 1001u << true << true;
    QTest::newRow("eleventh tick") << 1000u << 1100u << true << true;
    QTest::newRow("shortest period, second tick") << 100u << 200u << true << true;
    QTest::newRow("shortest period, first tick") << 100u << 100u << true << false;
    QTest::newRow("acquisition off") << 100u << 5000u << false << false;
}

void WorkerTest::cycleFallsDueOnlyAfterThePeriod() {
    QFETCH(uint, periodMs);
    QFETCH(uint, elapsedMs);
    QFETCH(bool, acquiring);
    QFETCH(bool, due);
    WorkerBench bench;
    QVERIFY(bench.isValid());
    bench.setOpen(true);
    bench.sensor.model().setAddress(0);
    sharedState.commandCode.store(Idle);
    sharedState.acquisitionOn.store(acquiring ? 1 : 0);
    sharedState.acquisitionPeriodMs.store(periodMs);
    sharedState.elapsedMs.store(elapsedMs);

    QVERIFY(bench.runOnce());

    QCOMPARE(bench.sensor.exchanges().size(), due ? std::size_t(5) : std::size_t(0));
    QCOMPARE(sharedState.elapsedMs.load(), due ? 0u : elapsedMs);
}

void WorkerTest::cycleReadsFailOnTheirOwn_data() {
    QTest::addColumn<QList<bool>>("answered");  // registers 0, 1, 2, 3, 112
    QTest::addColumn<bool>("sampleReady");
    QTest::newRow("all") << QList<bool>{true, true, true, true, true} << true;
    QTest::newRow("humidity lost") << QList<bool>{true, true, false, true, true} << true;
    QTest::newRow("smoke only") << QList<bool>{true, false, false, false, false} << false;
    QTest::newRow("smoke AD only") << QList<bool>{false, false, false, false, true} << true;
    QTest::newRow("alarm only") << QList<bool>{false, false, false, true, false} << true;
    QTest::newRow("none") << QList<bool>{false, false, false, false, false} << false;
}

void WorkerTest::cycleReadsFailOnTheirOwn() {
    QFETCH(QList<bool>, answered);
    QFETCH(bool, sampleReady);
    WorkerBench bench;
    QVERIFY(bench.isValid());
    bench.setOpen(true);
    setLiveRegisters(bench.sensor.model());
    bench.sensor.model().setAddress(3);
    sharedState.slaveAddress.store(3);
    for (const bool answers : answered)
        bench.sensor.queueFault(FaultSpec::of(answers ? Fault::None : Fault::NoReply));
    // Stale values from an earlier cycle: a failed read must not leave them standing.
    for (auto *field : {&sharedState.smokeValue, &sharedState.temValue, &sharedState.humValue,
                        &sharedState.alarmStatus, &sharedState.smokeAdValue})
        field->store(-1);
    sharedState.cycleReadsOk.store(0xFF);
    sharedState.commandCode.store(AcquisitionCycle);

    QVERIFY(bench.runOnce());

    QCOMPARE(bench.registersRead(), (std::vector<int>{0, 1, 2, 3, 112}));
    for (const Exchange &exchange : bench.sensor.exchanges())
        QCOMPARE(exchange.request, readRequestFrame(3, registerOf(exchange)));
    // As the wire carries them; the read-outs take temperature and humidity as signed.
    QCOMPARE(sharedState.smokeValue.load(), answered[0] ? 12 : 0);
    QCOMPARE(sharedState.temValue.load(), answered[1] ? 0xFF38 : 0);
    QCOMPARE(sharedState.humValue.load(), answered[2] ? 4550 : 0);
    QCOMPARE(sharedState.alarmStatus.load(), answered[3] ? 1 : 0);
    QCOMPARE(sharedState.smokeAdValue.load(), answered[4] ? 777 : 0);
    QCOMPARE(sampleWindow->sampleReady.load(), std::uint8_t(sampleReady ? 1 : 0));
    // Which reads succeeded, so that a failed read is not taken for a reading of 0.
    const std::uint8_t bits[] = {CycleRead::Smoke, CycleRead::Temperature, CycleRead::Humidity,
                                 CycleRead::AlarmStatus, CycleRead::SmokeAd};
    std::uint8_t readsOk = 0;
    for (int i = 0; i < 5; ++i)
        readsOk |= answered[i] ? bits[i] : 0;
    QCOMPARE(sharedState.cycleReadsOk.load(), readsOk);
    QCOMPARE(int(sharedState.resultCode.load()), 0);
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(Idle));
}

void WorkerTest::dueCycleWhileClosedStaysPending() {
    WorkerBench bench;
    QVERIFY(bench.isValid());
    bench.sensor.model().setAddress(0);
    bench.setOpen(false);
    sharedState.commandCode.store(Idle);
    sharedState.acquisitionOn.store(1);
    sharedState.acquisitionPeriodMs.store(100);
    sharedState.elapsedMs.store(200);

    QVERIFY(bench.runOnce());
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(AcquisitionCycle));
    QCOMPARE(sharedState.elapsedMs.load(), 0u);
    sharedState.elapsedMs.store(300);
    QVERIFY(bench.runOnce());
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(AcquisitionCycle));
    QVERIFY(bench.sensor.exchanges().empty());

    bench.setOpen(true);
    QVERIFY(bench.runOnce());
    QCOMPARE(bench.registersRead(), (std::vector<int>{0, 1, 2, 3, 112}));
    QCOMPARE(sharedState.commandCode.load(), std::uint32_t(Idle));
}

void WorkerTest::postedCommandGoesBeforeTheCycle() {
    WorkerBench bench;
    QVERIFY(bench.isValid());
    bench.setOpen(true);
    bench.sensor.model().setAddress(0);
    sharedState.acquisitionOn.store(1);
    sharedState.acquisitionPeriodMs.store(100);
    sharedState.elapsedMs.store(1000);
    postCommand(sharedState, ReadUpdateTime);

    QVERIFY(bench.runOnce());
    QCOMPARE(bench.registersRead(), std::vector<int>{106});
    // The cycle was not even tested for: it is still due, and the next run takes it.
    QCOMPARE(sharedState.elapsedMs.load(), 1000u);
    QVERIFY(bench.runOnce());
    QCOMPARE(bench.registersRead(), (std::vector<int>{106, 0, 1, 2, 3, 112}));
}

void WorkerTest::leftoverCycleCodeIsCarriedOut() {
    WorkerBench bench;
    QVERIFY(bench.isValid());
    bench.setOpen(true);
    bench.sensor.model().setAddress(0);
    // Acquisition was stopped after a cycle had fallen due with the port closed.
    sharedState.acquisitionOn.store(0);
    sharedState.commandCode.store(AcquisitionCycle);

    QVERIFY(bench.runOnce());
    QCOMPARE(bench.registersRead(), (std::vector<int>{0, 1, 2, 3, 112}));
    QVERIFY(bench.runOnce());
    QCOMPARE(bench.sensor.exchanges().size(), std::size_t(5));
}

void WorkerTest::restartIsNeverLost() {
    // Like the worker, it stores Finished as the last store of its run, but then takes its
    // time to return: the moment a restart must not be ignored in.
    class SlowToReturn : public QThread {
    public:
        std::atomic<int> runs{0};

    protected:
        void run() override {
            ++runs;
            sharedState.workerPhase.store(WorkerPhase::Finished, std::memory_order_release);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    };
    resetSharedState();
    SlowToReturn thread;
    for (int run = 1; run <= 5; ++run) {
        sharedState.workerPhase.store(WorkerPhase::HandedBack);
        restartWorker(thread);
        // Watched closely, so the next restart comes while the thread is still in run().
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (sharedState.workerPhase.load(std::memory_order_acquire) != WorkerPhase::Finished &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        QCOMPARE(sharedState.workerPhase.load(), WorkerPhase::Finished);
        QCOMPARE(thread.runs.load(), run);
    }
    thread.wait();
}

QTEST_MAIN(WorkerTest)
#include "tst_worker.moc"
