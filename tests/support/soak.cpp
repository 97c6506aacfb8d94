#include "support/soak.h"

#include <QCoreApplication>
#include <QLabel>
#include <QSerialPort>
#include <QTest>
#include <QtCharts/QLineSeries>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>

#include <unistd.h>

#include "sensor/registermap.h"
#include "sensor/sharedstate.h"
#include "sim/simulatedsensor.h"
#include "support/ops_session.h"
#include "transport/mytimer.h"
#include "transport/serial.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTickMs = 100;
constexpr int kSensorAddress = 1;
constexpr int kResultTimeoutMs = 15000;
constexpr int kProblemsKept = 20;

// Registers the soak reads and writes through their buttons: every one the basic window has
// too, but the device address and the baud-rate code, which would move the sensor away.
struct ButtonPair {
    const char *readButton;
    const char *writeButton;
    int reg;
};

const ButtonPair kButtons[] = {
    {"read_serial_number", "write_serial_number", 100},
    {"read_test_amount", "write_test_amount", 101},
    {"read_communication_mode", "write_communication_mode", 104},
    {"read_protocol_data", "write_protocol_data", 105},
    {"read_update_time", "write_update_time", 106},
    {"read_smoke_offset", "write_smoke_offset", 107},
    {"read_tem_offset", "write_tem_offset", 108},
    {"read_hum_offset", "write_hum_offset", 109},
    {"read_smoke_warning", "write_smoke_warning", 111},
    {"read_ad_max", "write_ad_max", 113},
    {"read_ad_min", "write_ad_min", 114},
    {"read_range_max", "write_range_max", 115},
    {"read_range_min", "write_range_min", 116},
    {"read_output_change", "write_output_change", 255},
};

// The live registers and what their read-outs show: the value, or 0 after a failed read.
struct LiveValue {
    int reg;
    std::uint16_t raw;
    const char *label;
    QStringList shown;
};

const LiveValue kLiveValues[] = {
    {SensorModel::kRegSmokePpm, 12, "smoke_vallue", {"12 PPM", "0 PPM"}},
    {SensorModel::kRegTemperature, 0xFE0C, "tem_value", {"-5 ℃", "0 ℃"}},
    {SensorModel::kRegHumidity, 4550, "hum_vallue", {"45.5 RH%", "0 RH%"}},
    {SensorModel::kRegAlarmStatus, 1, "alarm_status", {"1", "0"}},
    {SensorModel::kRegSmokeAd, 777, "smoke_ad_value", {"777", "0"}},
};

const QStringList kResultLines = {
    QStringLiteral("获取成功！"),
    QStringLiteral("读取成功！"),
    QStringLiteral("写入成功！"),
    QStringLiteral("获取失败！"),
    QStringLiteral("读取失败！"),
    QStringLiteral("写入失败！"),
    QStringLiteral("请改变波特率，然后重新打开串口！"),
};

const RegisterEntry &entryAt(int reg) {
    for (const RegisterEntry &entry : kRegisterMap) {
        if (entry.address == reg && entry.readCode >= ReadSerialNumber &&
            entry.readCode < AcquisitionCycle)
            return entry;
    }
    qFatal("no register %d", reg);
}

QByteArray readRequest(int reg) {
    return readRequestFrame(kSensorAddress, reg);
}

QByteArray writeRequest(int reg, std::uint16_t value) {
    const char data[] = {char(value >> 8), char(value & 0xFF)};
    return writeRequestFrame(kSensorAddress, reg, QByteArray(data, sizeof data));
}

int registerOf(const Exchange &exchange) {
    if (exchange.request.size() < 4)
        return -1;
    return std::uint8_t(exchange.request[2]) << 8 | std::uint8_t(exchange.request[3]);
}

bool isCycleRead(const Exchange &exchange, int reg) {
    return exchange.request.size() == 8 && std::uint8_t(exchange.request[1]) == 0x03 &&
           registerOf(exchange) == reg;
}

// Faults after which the reply on the wire is not the sensor's intact answer.
bool corrupts(Fault fault) {
    switch (fault) {
        case Fault::BadCrc:
        case Fault::ExtraBytesBefore:
        case Fault::ExtraBytesAfter:
        case Fault::ExceptionReply:
        case Fault::WrongEcho:
        case Fault::DoubleReply:
        case Fault::TruncatedReply:
        case Fault::OverlongByteCount:
        case Fault::RawReply:
            return true;
        default:
            return false;
    }
}

QString shownValue(const RegisterEntry &entry, std::uint16_t raw) {
    return QString::number(
        decodeRegister(entry.format, std::uint8_t(raw >> 8), std::uint8_t(raw & 0xFF)));
}

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double scheduledCycleSpacingMs(int replyWaitMs) {
    const int ticks = std::max(2, 5 * replyWaitMs / kTickMs + 1);
    return ticks * kTickMs;
}

void addProblem(SoakReport &report, const QString &problem) {
    if (report.problems.size() < kProblemsKept)
        report.problems << problem;
}

// Fault-free cycles, no press in between, no fault in the 300 ms before: the spacing of their
// starts is the cadence the design schedules.
std::vector<double> cleanCycleGaps(const std::vector<Exchange> &all) {
    const int cycleRegisters[] = {0, 1, 2, 3, 112};
    std::vector<double> gaps;
    for (std::size_t i = 0; i + 5 < all.size(); ++i) {
        bool clean = true;
        for (int k = 0; k < 5 && clean; ++k)
            clean = isCycleRead(all[i + k], cycleRegisters[k]) && all[i + k].fault == Fault::None;
        clean = clean && isCycleRead(all[i + 5], 0);
        for (std::size_t back = i; clean && back > 0; --back) {
            const Exchange &earlier = all[back - 1];
            if (msBetween(earlier.receivedAt, all[i].receivedAt) > 300)
                break;
            clean = earlier.fault == Fault::None;
        }
        if (clean)
            gaps.push_back(msBetween(all[i].receivedAt, all[i + 5].receivedAt));
    }
    return gaps;
}

}  // namespace

long residentKb() {
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    long pages = 0;
    long resident = 0;
    const int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
    std::fclose(statm);
    return read == 2 ? resident * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}

SoakReport runFaultSoak(const SoakOptions &options, const WindowMaker &makeWindow) {
    SoakReport report;
    OpsSession session(makeWindow);
    if (!session.isValid() || !session.openAndScan(options.baudRate)) {
        addProblem(report, QStringLiteral("the scan before the soak found no sensor (its "
                                          "timeline is in the warning above)"));
        return report;
    }
    SimulatedSensor &sensor = session.sensor();
    SensorModel &model = sensor.model();
    for (const LiveValue &live : kLiveValues)
        model.setRegister(live.reg, live.raw);
    for (const ButtonPair &pair : kButtons) {
        const RegisterEntry &entry = entryAt(pair.reg);
        model.setRegister(pair.reg, std::uint16_t(std::max(0, entry.maximum / 3 + pair.reg)));
    }

    // The faults, a share of every reply; late ones up to 100 ms, or two fixed waits where
    // that is longer.
    const int waitMs = serialPort->replyWaitMs.load();
    const double share = options.faultShare;
    const QByteArray upload = sensor.uploadFrame();
    FaultSpec wrongEcho = FaultSpec::of(Fault::WrongEcho);
    wrongEcho.onlyFunction = 0x06;  // a read with a wrong value and a good CRC is no fault
    const std::pair<FaultSpec, double> rates[] = {
        {FaultSpec::of(Fault::NoReply), 0.15},
        {FaultSpec::of(Fault::BadCrc), 0.125},
        {FaultSpec::split(3, 3), 0.10},
        {FaultSpec::extraBefore(upload), 0.125},  // a frame of its own just before the reply
        {FaultSpec::extraAfter(QByteArray(1, '\x55')), 0.10},
        {FaultSpec::lateBetween(waitMs + 1, std::max(100, 2 * waitMs)), 0.15},
        {FaultSpec::exception(0x04), 0.10},
        {wrongEcho, 0.075},
        {FaultSpec::raw(upload), 0.075},  // a frame of its own instead of the reply
    };
    for (const auto &[fault, weight] : rates)
        sensor.setFaultRate(fault, weight * share);

    // Every tick: each read-out shows its own register's value or 0.
    QStringList wrongReadOuts;
    const QMetaObject::Connection watching =
        QObject::connect(tickTimer, &MyTimer::handleTimeout, &session.window(), [&] {
            for (const LiveValue &live : kLiveValues) {
                const QString shown = session.text(live.label);
                if (!live.shown.contains(shown))
                    wrongReadOuts << QStringLiteral("%1 showed %2").arg(live.label, shown);
            }
        });

    session.setText("line_time", QStringLiteral("0.1"));
    session.click("connect_button_2");
    report.logLinesStart = session.logLineCount();
    report.rssStartKb = residentKb();

    std::mt19937 random(options.seed);
    const auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto deadline = Clock::now() + std::chrono::seconds(options.seconds);
    bool responsive = true;
    while (responsive && Clock::now() < deadline) {
        // Untouched cycles in between, for the cadence.
        session.waitTicks(pick(0, 8));

        const ButtonPair &pair = kButtons[pick(0, int(std::size(kButtons)) - 1)];
        const RegisterEntry &entry = entryAt(pair.reg);
        const bool write = pick(0, 9) < 4;
        const int value = pick(entry.minimum, entry.maximum);
        if (write)
            session.setText(entry.lineEdit, QString::number(value));
        const int first = session.logLineCount();
        const std::size_t exchangesBefore = sensor.exchanges().size();
        const int ticksBefore = session.tickCount();
        session.click(write ? pair.writeButton : pair.readButton);
        (write ? report.writesPosted : report.readsPosted) += 1;

        const bool presented = QTest::qWaitFor(
            [&] {
                for (const QString &line : session.logLinesFrom(first)) {
                    if (kResultLines.contains(line))
                        return true;
                }
                return false;
            },
            kResultTimeoutMs);
        responsive = session.tickCount() > ticksBefore;
        if (!responsive)
            addProblem(report,
                       QStringLiteral("no tick in the %1 ms after a press").arg(kResultTimeoutMs));
        session.waitTicks(2);
        QStringList results;
        for (const QString &line : session.logLinesFrom(first)) {
            if (kResultLines.contains(line))
                results << line;
        }
        const QString what = QStringLiteral("%1 of register %2")
                                 .arg(write ? QStringLiteral("write") : QStringLiteral("read"))
                                 .arg(pair.reg);
        if (!presented || results.size() != 1) {
            ++report.postsNotPresentedOnce;
            addProblem(report, QStringLiteral("%1: %2 result lines").arg(what).arg(results.size()));
            continue;
        }
        const bool success = results.front() == QStringLiteral("读取成功！") ||
                             results.front() == QStringLiteral("写入成功！");
        if (!success)
            continue;
        (write ? report.writesSucceeded : report.readsSucceeded) += 1;

        // The exchange that carried this request: the last one with its bytes.
        const QByteArray request =
            write ? writeRequest(pair.reg, std::uint16_t(value)) : readRequest(pair.reg);
        const std::vector<Exchange> all = sensor.exchanges();
        const Exchange *carried = nullptr;
        for (std::size_t i = exchangesBefore; i < all.size(); ++i) {
            if (all[i].request == request)
                carried = &all[i];
        }
        if (carried == nullptr || corrupts(carried->fault)) {
            ++report.successForCorruptedReply;
            addProblem(report, QStringLiteral("%1 shown as success; the sensor's reply: %2")
                                   .arg(what, carried == nullptr
                                                  ? QStringLiteral("none")
                                                  : QLatin1String(faultName(carried->fault))));
        }
        const std::uint16_t stored = model.registerValue(pair.reg).value_or(0);
        const QString expected = write ? QString::number(value) : shownValue(entry, stored);
        const QString shown = write ? shownValue(entry, stored) : session.text(entry.lineEdit);
        if (shown != expected) {
            ++report.valuesUnderWrongRegister;
            addProblem(
                report,
                QStringLiteral("%1: %2 shown or stored, %3 expected").arg(what, shown, expected));
        }
    }

    session.click("scan_button_2");
    QObject::disconnect(watching);
    sensor.clearFaultRates();
    report.rssEndKb = residentKb();
    report.logLinesEnd = session.logLineCount();
    (void)session.waitForIdleWorker(kResultTimeoutMs);

    report.valuesUnderWrongRegister += wrongReadOuts.size();
    for (const QString &wrong : wrongReadOuts)
        addProblem(report, wrong);

    const std::vector<Exchange> all = sensor.exchanges();
    report.exchanges = int(all.size());
    for (const Exchange &exchange : all) {
        report.faultedExchanges += exchange.fault != Fault::None;
        report.cycles += isCycleRead(exchange, 0);
    }
    report.cleanCycleGapsMs = cleanCycleGaps(all);
    report.scheduleMs = scheduledCycleSpacingMs(waitMs);
    report.completed = responsive;
    return report;
}

namespace {

// Waits, with the event loop running, until the worker is inside an acquisition cycle.
bool waitForMidCycle(OpsSession &session, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        const std::vector<Exchange> all = session.sensor().exchanges();
        if (sharedState.workerPhase.load() == WorkerPhase::Running && !all.empty()) {
            const int reg = registerOf(all.back());
            if (reg == SensorModel::kRegTemperature || reg == SensorModel::kRegHumidity)
                return true;
        }
        QTest::qSleep(1);
    }
    return false;
}

bool startPlotting(OpsSession &session) {
    session.setText("line_time", QStringLiteral("0.1"));
    session.click("connect_button_2");
    const int before = temSeries->count();
    return QTest::qWaitFor([before] { return temSeries->count() > before; }, 10000);
}

bool ticking(OpsSession &session) {
    const int before = session.tickCount();
    session.waitTicks(2);
    return session.tickCount() >= before + 2;
}

constexpr int kRoughBaudRate = 9600;  // cycles of 350 ms: time to land inside one
const QString kPortReleased = QStringLiteral("串口已断开，请关闭后重新打开");

}  // namespace

RoughReport runRoughEvents(RoughEvent event, int repeats, const WindowMaker &makeWindow) {
    RoughReport report;
    std::unique_ptr<OpsSession> session;
    const auto fail = [&report](int attempt, const QString &why) {
        report.failures << QStringLiteral("attempt %1: %2").arg(attempt).arg(why);
    };
    for (int attempt = 1; attempt <= repeats; ++attempt) {
        ++report.attempted;
        if (!session) {
            session = std::make_unique<OpsSession>(makeWindow);
            if (!session->isValid() || !session->openAndScan(kRoughBaudRate)) {
                fail(attempt, QStringLiteral("the session did not start"));
                session.reset();
                continue;
            }
        }
        if (!startPlotting(*session)) {
            fail(attempt, QStringLiteral("acquisition plotted nothing"));
            session.reset();
            continue;
        }
        if (!waitForMidCycle(*session, 5000)) {
            fail(attempt, QStringLiteral("no cycle to land in"));
            session.reset();
            continue;
        }
        const auto eventAt = Clock::now();
        const int linesBefore = session->logLineCount();
        const auto releasesReported = [&] {
            return int(session->logLinesFrom(linesBefore).count(kPortReleased));
        };
        switch (event) {
            case RoughEvent::SensorHangsUp: {
                session->sensor().hangUp();
                const bool released =
                    QTest::qWaitFor([] { return !serialPort->port->isOpen(); }, 5000);
                if (!released || !ticking(*session)) {
                    fail(attempt, QStringLiteral("the hang-up was not handled"));
                    session.reset();
                    continue;
                }
                // Said once, and the port is still the operator's to close.
                if (releasesReported() != 1 ||
                    session->text("connect_button") != QStringLiteral("关闭串口")) {
                    fail(attempt, QStringLiteral("the release was reported %1 times, caption %2")
                                      .arg(releasesReported())
                                      .arg(session->text("connect_button")));
                    session.reset();
                    continue;
                }
                session->click("connect_button");  // the operator closes the dead port
                if (serialPort->isOpen.load() ||
                    !session->sensor().openPty(nullptr, kRoughBaudRate)) {
                    fail(attempt, QStringLiteral("closing failed or no new line"));
                    session.reset();
                    continue;
                }
                break;
            }
            case RoughEvent::PortReopenedMidCycle:
                session->click("connect_button");
                if (serialPort->isOpen.load() || releasesReported() != 0) {
                    fail(attempt, QStringLiteral("the port did not close"));
                    session.reset();
                    continue;
                }
                break;
            case RoughEvent::WindowClosedMidCycle: {
                const qint64 closingMs = session->destroyWindow();
                const bool finished = sharedState.workerPhase.load() == WorkerPhase::Finished;
                session.reset();
                if (closingMs > 3000 || !finished) {
                    fail(attempt, QStringLiteral("closing took %1 ms").arg(closingMs));
                    continue;
                }
                // A new window must find the port free.
                session = std::make_unique<OpsSession>(makeWindow);
                if (!session->isValid()) {
                    fail(attempt, QStringLiteral("no new window"));
                    session.reset();
                    continue;
                }
                break;
            }
        }
        if (!session->openAndScan(kRoughBaudRate) || !ticking(*session)) {
            fail(attempt, QStringLiteral("the port did not work after reopening"));
            session.reset();
            continue;
        }
        report.recoveryMs.push_back(msBetween(eventAt, Clock::now()));
        ++report.survived;
    }
    return report;
}
