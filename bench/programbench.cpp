#include "bench/programbench.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <random>

#include <time.h>

#include "app/connection.h"
#include "app/mainwindow.h"
#include "bench/children.h"
#include "support/ops_session.h"
#include "support/soak.h"
#include "transport/serial.h"

namespace {

constexpr int kTickMs = 100;

QWidget *newWindow() {
    return new MainWindow;
}

// sensor_simulator in a process of its own, so that its CPU is not the program's.
class SimulatorProcess {
public:
    explicit SimulatorProcess(int baudRate) {
        process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/sensor_simulator"),
                      {QStringLiteral("--quiet"), QStringLiteral("--frozen"),
                       QStringLiteral("--baud"), QString::number(baudRate)});
        if (process.waitForStarted(5000) && process.waitForReadyRead(5000))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~SimulatorProcess() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
    QString path;

private:
    QProcess process;
};

double perSecond(const ChildResult &result) {
    const double wall = result.value(QStringLiteral("wall_ms"));
    return wall > 0 ? result.value(QStringLiteral("cpu_ms")) / (wall / 1000.0) : 0;
}

void progress(const char *what) {
    std::fprintf(stderr, "%s...\n", what);
}

// Both halves' figures added up, key by key (the CPU and wall times and the counts add).
ChildResult sumOf(const ChildResult &first, const ChildResult &second) {
    ChildResult sum;
    sum.ok = first.ok && second.ok;
    sum.error = first.error + second.error;
    for (const QString &pair : first.pairs) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        sum.pairs << QStringLiteral("%1=%2").arg(key).arg(first.value(key) + second.value(key));
    }
    return sum;
}

// Two windows that are compared with each other run in halves, A B B A: this machine's speed
// drifts by tens of per cent over minutes, and in this order a steady drift weighs on both alike.
template <typename Run>
std::pair<ChildResult, ChildResult> interleaved(int seconds, const Run &run, const char *first,
                                                const char *second) {
    const int half = std::max(1, seconds / 2);
    const ChildResult firstA = run(first, half);
    const ChildResult secondA = run(second, half);
    const ChildResult secondB = run(second, half);
    const ChildResult firstB = run(first, half);
    return {sumOf(firstA, firstB), sumOf(secondA, secondB)};
}

ResultRow failedRow(const QString &what, const QString &error) {
    return {what + QStringLiteral(" (failed: ") + error + QLatin1Char(')'),
            0,
            QString(),
            QString(),
            0,
            QStringLiteral("measured"),
            false};
}

}  // namespace

std::vector<ResultRow> runCpuBench(int seconds) {
    std::vector<ResultRow> rows;
    const auto timing = [](int forSeconds) {
        return QStringList{QStringLiteral("--cpu-seconds"), QString::number(forSeconds)};
    };
    const auto timeoutMs = [](int forSeconds) { return (forSeconds + 30) * 1000; };
    // Each mode against a simulated sensor of its own at 115200 baud; the bare windows alone.
    const auto run = [&](const char *mode, int forSeconds) {
        const QString name = QLatin1String(mode);
        if (name == QLatin1String("bare") || name == QLatin1String("floor"))
            return runChildProcess(name, timing(forSeconds), timeoutMs(forSeconds));
        SimulatorProcess simulator(115200);
        return runChildProcess(
            name, timing(forSeconds) + QStringList{QStringLiteral("--port"), simulator.path},
            timeoutMs(forSeconds));
    };

    progress("idle: bare window");
    const ChildResult bare = run("bare", seconds);
    progress("idle: bare window with a thread per tick, and the program with its port open");
    const auto [floor, idle] = interleaved(seconds, run, "floor", "idle");
    if (!bare.ok || !floor.ok || !idle.ok)
        return {failedRow(QStringLiteral("idle CPU"), bare.error + floor.error + idle.error)};
    const double idlePerSecond = perSecond(idle);
    rows.push_back({QStringLiteral("idle CPU, port open, no acquisition"), idlePerSecond,
                    QStringLiteral("ms/s"), QStringLiteral("design's floor (thread per tick)"),
                    perSecond(floor), QStringLiteral("≤ 1.2 × floor"),
                    idlePerSecond <= 1.2 * perSecond(floor)});
    rows.push_back({QStringLiteral("idle CPU, port open, no acquisition"), idlePerSecond,
                    QStringLiteral("ms/s"), QStringLiteral("bare window"), perSecond(bare),
                    QString(), true});
    rows.push_back({QStringLiteral("design's floor: bare window starting a thread per tick"),
                    perSecond(floor), QStringLiteral("ms/s"), QStringLiteral("bare window"),
                    perSecond(bare), QString(), true});

    progress("acquisition at 0.1 s, 115200 baud, chart shown, without and with recording");
    const auto [acquire, record] = interleaved(seconds, run, "acquire", "acquire-record");
    progress("a libmodbus master polling one register every 100 ms");
    const ChildResult poller = run("modbus-poll", seconds);
    if (!acquire.ok)
        return rows.push_back(failedRow(QStringLiteral("acquisition CPU"), acquire.error)), rows;
    const double acquirePerSecond = perSecond(acquire);
    const double requests = acquire.value(QStringLiteral("requests"));
    const double perRequest = requests > 0 ? acquire.value(QStringLiteral("cpu_ms")) / requests : 0;
    const double extraPerRequest =
        requests > 0 ? (acquirePerSecond - idlePerSecond) *
                           (acquire.value(QStringLiteral("wall_ms")) / 1000.0) / requests
                     : 0;
    rows.push_back({QStringLiteral("acquisition CPU at 0.1 s, 115200 baud, chart shown"),
                    acquirePerSecond, QStringLiteral("ms/s"), QStringLiteral("idle"), idlePerSecond,
                    QString(), true});
    if (record.ok) {
        // One CSV line per sample, the file synced to the disk about once a second.
        rows.push_back({QStringLiteral("acquisition CPU, recording every sample to a file"),
                        perSecond(record), QStringLiteral("ms/s"),
                        QStringLiteral("acquisition, not recording"), acquirePerSecond,
                        QStringLiteral("≤ 1.05 × not recording"),
                        perSecond(record) <= 1.05 * acquirePerSecond});
    } else {
        rows.push_back(failedRow(QStringLiteral("acquisition CPU, recording"), record.error));
    }
    rows.push_back(
        {QStringLiteral("acquisition CPU per bus request (%1 requests/s)")
             .arg(requests / (acquire.value(QStringLiteral("wall_ms")) / 1000.0), 0, 'f', 1),
         perRequest, QStringLiteral("ms"),
         QStringLiteral("generic master tool, field notes (not re-measured)"), 2.0, QString(),
         true});
    rows.push_back({QStringLiteral("acquisition CPU per bus request beyond idle"), extraPerRequest,
                    QStringLiteral("ms"), QStringLiteral("generic master tool, field notes"), 2.0,
                    QString(), true});
    if (poller.ok) {
        const double polled = poller.value(QStringLiteral("requests"));
        rows.push_back(
            {QStringLiteral("acquisition CPU per bus request"), perRequest, QStringLiteral("ms"),
             QStringLiteral("libmodbus loop, no GUI, measured here"),
             polled > 0 ? poller.value(QStringLiteral("cpu_ms")) / polled : 0, QString(), true});
    }
    return rows;
}

std::vector<ResultRow> runSampleAndMemoryBench() {
    std::vector<ResultRow> rows;
    progress("samples through the main loop and the chart");
    const ChildResult samples = runChildProcess(QStringLiteral("samples"), {}, 1800 * 1000);
    if (!samples.ok)
        return {failedRow(QStringLiteral("per-sample cost"), samples.error)};
    const double first = samples.value(QStringLiteral("ms_per_sample_100"));
    for (const int count : {10000, 100000}) {
        const double cost = samples.value(QStringLiteral("ms_per_sample_%1").arg(count));
        rows.push_back(
            {QStringLiteral("GUI time per presented sample after %L1 samples").arg(count), cost,
             QStringLiteral("ms"), QStringLiteral("after 100 samples"), first,
             count == 100000 ? QStringLiteral("≤ 1.2 × after 100") : QString(),
             cost <= 1.2 * first});
    }
    const double rssStart = samples.value(QStringLiteral("rss_kb_start")) / 1024.0;
    rows.push_back({QStringLiteral("resident memory after 100,000 presented samples"),
                    samples.value(QStringLiteral("rss_kb_100000")) / 1024.0, QStringLiteral("MiB"),
                    QStringLiteral("the window just shown"), rssStart, QString(), true});

    progress("an hour of frame log lines at the 0.1 s period");
    const ChildResult log = runChildProcess(QStringLiteral("log"), {}, 1800 * 1000);
    if (!log.ok)
        return rows.push_back(failedRow(QStringLiteral("log memory"), log.error)), rows;
    const double before = log.value(QStringLiteral("rss_kb_before")) / 1024.0;
    const double after = log.value(QStringLiteral("rss_kb_after")) / 1024.0;
    const double lines = log.value(QStringLiteral("lines"));
    rows.push_back(
        {QStringLiteral("resident memory after an hour's log (%L1 lines)").arg(qlonglong(lines)),
         after, QStringLiteral("MiB"), QStringLiteral("the port just opened"), before, QString(),
         true});
    rows.push_back({QStringLiteral("log growth per hour of acquisition at 0.1 s"), after - before,
                    QStringLiteral("MiB"), QStringLiteral("the port just opened"), before,
                    QString(), true});
    rows.push_back({QStringLiteral("log memory per line"),
                    lines > 0 ? (after - before) * 1024 * 1024 / lines : 0, QStringLiteral("B"),
                    QStringLiteral("QTextEdit::append, field notes (not re-measured)"), 740,
                    QString(), true});
    return rows;
}

std::vector<ResultRow> runStartupBench(int runs) {
    std::vector<double> program;
    std::vector<double> bare;
    progress("start-up to the first painted window");
    for (int run = 0; run < runs; ++run) {
        for (const bool isProgram : {true, false}) {
            // The child measures from this moment to its first paint on the same clock.
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const qint64 startedNs = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
            const ChildResult result = runChildProcess(
                isProgram ? QStringLiteral("startup-program") : QStringLiteral("startup-bare"),
                {QStringLiteral("--started-ns"), QString::number(startedNs)}, 30000);
            if (result.ok)
                (isProgram ? program : bare).push_back(result.value(QStringLiteral("painted_ms")));
        }
    }
    const Summary programs = summarize(program);
    const Summary bares = summarize(bare);
    return {{QStringLiteral("start-up to the first painted window, median of %1").arg(runs),
             programs.median, QStringLiteral("ms"), QStringLiteral("bare window"), bares.median,
             QString(), programs.count > 0}};
}

std::vector<ResultRow> runClickBench(int presses) {
    std::vector<ResultRow> rows;
    std::mt19937 random(7);
    for (const int baudRate : {115200, 9600}) {
        std::fprintf(stderr, "click to result at %d baud...\n", baudRate);
        OpsSession session(newWindow);
        if (!session.isValid() || !session.openAndScan(baudRate)) {
            rows.push_back(failedRow(QStringLiteral("click to result"), QStringLiteral("open")));
            continue;
        }
        const int waitMs = replyWaitForBaudRate(baudRate);
        // The first tick after the press starts the run; the first tick after the run ends
        // presents it.
        const int scheduled = 1 + (waitMs + kTickMs - 1) / kTickMs;
        std::vector<double> ticks;
        int late = 0;
        for (int press = 0; press < presses; ++press) {
            session.waitTicks(1);
            QTest::qWait(std::uniform_int_distribution<int>(0, kTickMs - 1)(random));
            const int first = session.logLineCount();
            const int pressedAt = session.tickCount();
            session.click("read_serial_number");
            int shownAt = -1;
            (void)QTest::qWaitFor(
                [&] {
                    if (session.logLinesFrom(first).contains(QStringLiteral("读取成功！")))
                        shownAt = session.tickCount();
                    return shownAt >= 0;
                },
                5000);
            if (shownAt < 0) {
                ++late;
                continue;
            }
            ticks.push_back(shownAt - pressedAt);
            late += shownAt - pressedAt > scheduled;
        }
        const Summary summary = summarize(ticks);
        const QString at = QStringLiteral(" at %1 baud (%2 presses)").arg(baudRate).arg(presses);
        rows.push_back({QStringLiteral("ticks from press to result, longest") + at, summary.max,
                        QStringLiteral("ticks"), QStringLiteral("design's schedule"),
                        double(scheduled), QStringLiteral("none later"),
                        summary.count == std::size_t(presses) && summary.max <= scheduled});
        rows.push_back({QStringLiteral("presses later than the schedule") + at, double(late),
                        QString(), QStringLiteral("presses"), double(presses), QStringLiteral("0"),
                        late == 0});
    }
    return rows;
}

std::vector<ResultRow> runSoakBench(int seconds, int roughRepeats) {
    std::vector<ResultRow> rows;
    std::fprintf(stderr, "fault soak for %d s...\n", seconds);
    SoakOptions options;
    options.seconds = seconds;
    const SoakReport report = runFaultSoak(options, newWindow);
    for (const QString &problem : report.problems)
        std::fprintf(stderr, "  %s\n", qPrintable(problem));
    const QString during = QStringLiteral(" (%1 s, %2 requests, %3 with a fault)")
                               .arg(seconds)
                               .arg(report.exchanges)
                               .arg(report.faultedExchanges);
    const int posted = report.readsPosted + report.writesPosted;
    rows.push_back({QStringLiteral("successes shown for a corrupted reply") + during,
                    double(report.successForCorruptedReply), QString(),
                    QStringLiteral("presses that succeeded"),
                    double(report.readsSucceeded + report.writesSucceeded), QStringLiteral("0"),
                    report.completed && report.successForCorruptedReply == 0});
    rows.push_back({QStringLiteral("values shown under the wrong register"),
                    double(report.valuesUnderWrongRegister), QString(),
                    QStringLiteral("acquisition cycles"), double(report.cycles),
                    QStringLiteral("0"), report.completed && report.valuesUnderWrongRegister == 0});
    rows.push_back({QStringLiteral("presses not presented exactly once"),
                    double(report.postsNotPresentedOnce), QString(), QStringLiteral("presses"),
                    double(posted), QStringLiteral("0"),
                    report.completed && report.postsNotPresentedOnce == 0});
    const Summary gaps = summarize(report.cleanCycleGapsMs);
    int offSchedule = 0;
    for (const double gap : report.cleanCycleGapsMs)
        offSchedule += std::abs(gap - report.scheduleMs) > kTickMs / 2.0;
    rows.push_back({QStringLiteral("cycle spacing where no fault hit, median (%1 gaps, %2 off by "
                                   "more than half a tick)")
                        .arg(gaps.count)
                        .arg(offSchedule),
                    gaps.median, QStringLiteral("ms"), QStringLiteral("design's schedule"),
                    report.scheduleMs, QStringLiteral("= schedule"),
                    gaps.count > 0 && std::abs(gaps.median - report.scheduleMs) < kTickMs / 2.0});
    const double logLines = report.logLinesEnd - report.logLinesStart;
    rows.push_back({QStringLiteral("resident memory growth during the soak (%L1 log lines added)")
                        .arg(qlonglong(logLines)),
                    (report.rssEndKb - report.rssStartKb) / 1024.0, QStringLiteral("MiB"),
                    QStringLiteral("resident at the start"), report.rssStartKb / 1024.0, QString(),
                    true});

    const std::pair<RoughEvent, const char *> events[] = {
        {RoughEvent::SensorHangsUp, "the sensor's end hangs up mid-run"},
        {RoughEvent::PortReopenedMidCycle, "the port closed and reopened mid-cycle"},
        {RoughEvent::WindowClosedMidCycle, "the window closed mid-cycle"},
    };
    for (const auto &[event, what] : events) {
        std::fprintf(stderr, "%s, %d times...\n", what, roughRepeats);
        const RoughReport rough = runRoughEvents(event, roughRepeats, newWindow);
        for (const QString &failure : rough.failures)
            std::fprintf(stderr, "  %s\n", qPrintable(failure));
        rows.push_back({QStringLiteral("%1: survived, port working after a reopen (median %2 ms "
                                       "from the event)")
                            .arg(QLatin1String(what))
                            .arg(summarize(rough.recoveryMs).median, 0, 'f', 0),
                        double(rough.survived), QString(), QStringLiteral("attempts"),
                        double(rough.attempted), QStringLiteral("all"),
                        rough.survived == rough.attempted});
    }
    return rows;
}
